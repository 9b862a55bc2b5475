#pragma once

#include <array>
#include <cstdint>

#include <QtGlobal>

class Channel;
class ScriptRunner;
struct lua_State;

// What a script sees: Lua's base, string, table, math and utf8 libraries, os.time, os.clock and
// os.date, and the TeskManager API (the channels serial, net1, net2, net3, and sleep, check,
// note, print and elapsed). Nothing that reads or writes files, starts programs or loads binary
// chunks: trying is an error at the script's line.
//
// The functions are called by Lua, which unwinds their frames with longjmp when they raise an
// error or wait; so they hold no C++ object across such a call, and leave the work to the
// runner.
struct ScriptApi {
    static void install(lua_State *lua, ScriptRunner *runner,
                        const std::array<Channel *, 4> &channels);
    static ScriptRunner *runner(lua_State *lua);

    // Globals.
    static int sleep(lua_State *lua);
    static int check(lua_State *lua);
    static int note(lua_State *lua);
    static int test(lua_State *lua);
    static int elapsedMs(lua_State *lua);
    static int load(lua_State *lua);
    static int refuse(lua_State *lua);
    static int refuseField(lua_State *lua);

    // Methods of every channel.
    static int send(lua_State *lua);
    static int sendHex(lua_State *lua);
    static int expect(lua_State *lua);
    static int readline(lua_State *lua);
    static int discard(lua_State *lua);
    static int stateName(lua_State *lua);
    static int name(lua_State *lua);
    // Of the serial channel.
    static int open(lua_State *lua);
    // Closes the serial port or disconnects a network channel.
    static int close(lua_State *lua);
    static int dtr(lua_State *lua);
    static int rts(lua_State *lua);
    // {cts=, dsr=, dcd=, ri=}, or nil and why the line has none.
    static int controlLines(lua_State *lua);
    // A break of the given milliseconds; returns true once it is over, or false and why not.
    static int sendBreak(lua_State *lua);
    // Of a network channel.
    static int connectLink(lua_State *lua);

private:
    static void installChannels(lua_State *lua, const std::array<Channel *, 4> &channels);
    static void installSandbox(lua_State *lua);
    static void installArgs(lua_State *lua, ScriptRunner *runner);
    // One expect alternative, at `at`: a string is text; a table holds pattern or text.
    static void addQuery(lua_State *lua, int at, int number);
    static int afterTest(lua_State *lua, int status, intptr_t context);
    static int keepTraceback(lua_State *lua);
    static int refuseArgWrite(lua_State *lua);
    static int channelIndex(lua_State *lua);
    // A time argument, `fallback` when it is missing; `what` names it in the error.
    static qint64 milliseconds(lua_State *lua, int argument, qint64 fallback, const char *what);
    static int controlLine(lua_State *lua, bool dtr);
    static int sendAs(lua_State *lua, bool hex);
    // Returns what the runner left for the function, waits for it, or raises its error.
    static int finishCall(lua_State *lua, int call);
    static int afterWait(lua_State *lua, int status, intptr_t context);
    static int raise(lua_State *lua);
};
