#pragma once

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support
{
    /** An X server of the test's own when the environment gives none.

        Parts of JUCE (the desktop, the mouse sources) connect to X as soon as
        they are touched, and with no DISPLAY they fall back to ":0.0", which may
        be anybody's server, or one that goes away mid-test. Xvfb picks a free
        display number itself and reports it once it accepts clients. */
    class PrivateXvfb
    {
    public:
        /** Starts Xvfb and sets DISPLAY, unless DISPLAY is already set. False if it could not start. */
        bool startIfNeeded()
        {
            const auto* display = std::getenv ("DISPLAY");

            if (display != nullptr && *display != '\0')
                return true;

            int fds[2];

            if (pipe (fds) != 0)
                return false;

            const auto fd = std::to_string (fds[1]);
            const char* argv[] = { "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp", nullptr };
            pid = fork();

            if (pid == 0)
            {
                // Xvfb goes with the test even if the test dies, and must not
                // hold the test's output open.
                prctl (PR_SET_PDEATHSIG, SIGTERM);
                const auto devNull = open ("/dev/null", O_WRONLY);
                dup2 (devNull, 1);
                dup2 (devNull, 2);
                close (fds[0]);
                execvp ("Xvfb", const_cast<char**> (argv));
                _exit (127);
            }

            close (fds[1]);
            std::string number;
            char c;

            while (pid > 0 && read (fds[0], &c, 1) == 1 && c != '\n')
                number += c;

            close (fds[0]);

            if (number.empty())
                return false;

            setenv ("DISPLAY", (":" + number).c_str(), 1);
            return true;
        }

        void stop()
        {
            if (pid > 0)
            {
                kill (pid, SIGTERM);
                waitpid (pid, nullptr, 0);
                pid = 0;
            }
        }

        ~PrivateXvfb() { stop(); }

    private:
        pid_t pid = 0;
    };
}
