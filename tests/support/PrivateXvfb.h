#pragma once

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support
{
    /** An X server of the test's own, whatever DISPLAY says.

        Parts of JUCE (the desktop, the mouse sources) connect to X as soon as
        they are touched. The display a test is started from may be a
        developer's desktop, whose window manager moves the test's windows and
        where they would appear while the test runs, or none at all, when JUCE
        falls back to ":0.0". So the test always brings its own: Xvfb picks a
        free display number itself and reports it once it accepts clients. */
    class PrivateXvfb
    {
    public:
        /** Starts Xvfb and points DISPLAY at it. False if it could not start;
            failure() then says why, with what Xvfb printed. */
        bool start()
        {
            stop();
            problem.clear();

            char logName[] = "/tmp/quillo-xvfb-XXXXXX";
            const auto log = mkstemp (logName);

            if (log < 0)
                return fail ("no log file for Xvfb");

            unlink (logName);
            int fds[2];

            if (pipe (fds) != 0)
            {
                close (log);
                return fail ("no pipe for Xvfb");
            }

            const auto fd = std::to_string (fds[1]);
            const char* argv[] = { "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp", nullptr };
            pid = fork();

            if (pid == 0)
            {
                // Xvfb goes with the test even if the test dies, and must not
                // hold the test's output open.
                prctl (PR_SET_PDEATHSIG, SIGTERM);
                const auto devNull = open ("/dev/null", O_RDWR);
                dup2 (devNull, 0);
                dup2 (devNull, 1);
                dup2 (log, 2);
                close (fds[0]);
                execvp ("Xvfb", const_cast<char**> (argv));
                _exit (127);
            }

            close (fds[1]);
            std::string number;

            // Generous: a loaded machine may take long to start a server, and
            // one that never answers must not hang the test.
            for (pollfd ready { fds[0], POLLIN, 0 }; pid > 0 && poll (&ready, 1, 120000) == 1;)
            {
                char c;

                if (read (fds[0], &c, 1) != 1 || c == '\n')
                    break;

                number += c;
            }

            close (fds[0]);

            if (number.empty())
            {
                stop();
                const auto printed = readAll (log);
                close (log);
                return fail ("Xvfb did not report a display within 120 s; it printed:\n" + printed);
            }

            close (log);
            setenv ("DISPLAY", (":" + number).c_str(), 1);
            return true;
        }

        /** Why the last start() failed. */
        const std::string& failure() const { return problem; }

        void stop()
        {
            if (pid > 0)
            {
                kill (pid, SIGTERM);
                waitpid (pid, nullptr, 0);
                pid = 0;
            }
        }

        PrivateXvfb() = default;
        PrivateXvfb (const PrivateXvfb&) = delete;
        PrivateXvfb& operator= (const PrivateXvfb&) = delete;
        ~PrivateXvfb() { stop(); }

    private:
        bool fail (const std::string& why)
        {
            problem = why;
            std::fprintf (stderr, "%s\n", why.c_str());
            return false;
        }

        static std::string readAll (int fd)
        {
            std::string text;
            char buffer[4096];
            lseek (fd, 0, SEEK_SET);

            for (ssize_t n; (n = read (fd, buffer, sizeof (buffer))) > 0 || (n < 0 && errno == EINTR);)
                if (n > 0)
                    text.append (buffer, (size_t) n);

            return text;
        }

        pid_t pid = 0;
        std::string problem;
    };
}
