#pragma once

#include <csignal>

#include <sys/resource.h>

// Makes every write of this process past `bytes` into any file fail, as `ulimit -f` does: the
// write that crosses the limit stops short at it, the following ones fail outright.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_set)
            setrlimit(RLIMIT_FSIZE, &m_previous);
    }
    bool isSet() const { return m_set; }

private:
    rlimit m_previous {};
    bool m_set = false;
};
