#pragma once
// Sends file descriptor 1 to a temporary file for the lifetime of the object. take() does not
// flush stdout: a trace line the module failed to flush is missing from the result.

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(STDOUT_FILENO);
        dup2(fileno(file_), STDOUT_FILENO);
    }
    ~StdoutCapture()
    {
        restore();
        std::fclose(file_);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far, one entry per line.
    std::vector<std::string> lines() const
    {
        std::string text;
        char chunk[4096];
        ssize_t n;
        for (off_t at = 0; (n = pread(fileno(file_), chunk, sizeof chunk, at)) > 0; at += n)
            text.append(chunk, size_t(n));
        std::vector<std::string> result;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }

    std::FILE* file_ = nullptr;
    int saved_ = -1;
};
