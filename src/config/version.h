#pragma once

// The only place the version is written: the top-level CMakeLists.txt reads it from this line
// for the project and the package, so keep it on one line of this form.
inline constexpr char teskManagerVersion[] = "0.2";
