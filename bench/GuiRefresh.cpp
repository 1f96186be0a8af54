// gui_refresh: the whole refresh of the real main window (snapshot, merge, sort, repaint) at
// 100,000+ live endpoints, offscreen, against `ss -tan` in the same run; the longest stretch
// during a refresh in which the window's event loop could not run; and the window's resident
// memory with that many rows.
//
//   gui_refresh [--tcp-sockets N] [--udp-sockets M] [--runs R] [--load PATH]
//               [--churn-rate C [--churn-seconds S]]
//
// With --churn-rate the load also opens and closes C connections a second, and after the
// timed refreshes the window runs S seconds (default 30) refreshing every 10 s as the timer
// does, its connection log following: the longest stretch without events over that time.
//
// The sockets come from kestrel-socket-load (by default the one next to this program), which
// is stopped before the program ends. Settings go to a temporary folder.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "os/Memory.h"
#include "ui/UnitFormKestrel.h"
#include "ui/Worker.h"
#include "ui/qt/ConnectionModel.h"
#include "ui/qt/KestrelMainWindow.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    long tcpSockets = 110000;
    long udpSockets = 100;
    int runs = 7;
    std::string load;
    long churnRate = 0;
    long churnSeconds = 30;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        char* end = nullptr;
        const long number = std::strtol(value, &end, 10);
        const bool numeric = end != value && *end == '\0' && number >= 0;
        if (arg == "--tcp-sockets" && numeric)
            options.tcpSockets = number;
        else if (arg == "--udp-sockets" && numeric)
            options.udpSockets = number;
        else if (arg == "--runs" && numeric && number > 0)
            options.runs = static_cast<int>(number);
        else if (arg == "--churn-rate" && numeric)
            options.churnRate = number;
        else if (arg == "--churn-seconds" && numeric && number > 0)
            options.churnSeconds = number;
        else if (arg == "--load")
            options.load = value;
        else
            return false;
    }
    return true;
}

std::string siblingOf(const char* argv0, const char* name) {
    std::string self = argv0;
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string("./") : self.substr(0, slash + 1)) + name;
}

// The load helper with a pipe to its standard input (closing it stops the helper) and one
// from its standard output (the "ready" line).
class SocketLoad {
public:
    bool start(const std::string& path, long tcp, long udp, long churnRate) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const std::string tcpText = std::to_string(tcp);
        const std::string udpText = std::to_string(udp);
        const std::string churnText = std::to_string(churnRate);
        const char* args[] = {path.c_str(),      "--tcp-sockets",
                              tcpText.c_str(),   "--udp-sockets",
                              udpText.c_str(),   churnRate > 0 ? "--churn-rate" : nullptr,
                              churnText.c_str(), nullptr};
        const int rc = ::posix_spawn(&m_pid, path.c_str(), &actions, nullptr,
                                     const_cast<char* const*>(args), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        if (rc != 0) {
            m_pid = -1;
            ::close(out[0]);
            return false;
        }
        std::string line;
        char c = 0;
        for (;;) {
            const ssize_t n = ::read(out[0], &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || c == '\n')
                break;
            line += c;
        }
        ::close(out[0]);
        m_ready = line;
        return line.rfind("ready", 0) == 0;
    }

    const std::string& readyLine() const { return m_ready; }

    void stop() {
        if (m_stdin >= 0) {
            ::close(m_stdin);
            m_stdin = -1;
        }
        if (m_pid > 0) {
            int status = 0;
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_pid = -1;
        }
    }

    ~SocketLoad() { stop(); }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    std::string m_ready;
};

// Wall time of `ss -tan > /dev/null`, in seconds; negative when it could not run.
double timeSs() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* args[] = {"ss", "-tan", nullptr};
    const auto start = Clock::now();
    pid_t pid = -1;
    const int rc =
        ::posix_spawnp(&pid, "ss", &actions, nullptr, const_cast<char* const*>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed.count() : -1;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Resident memory of this process in bytes (VmRSS), 0 when unknown.
long residentBytes() {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr)
        return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    }
    std::fclose(status);
    return kib * 1024;
}

} // namespace

// Runs the event loop until the refresh in flight has been merged.
void finishRefresh(qtui::KestrelMainWindow& window) {
    while (window.form().refreshing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The longest gap between the ticks of a 1 ms timer while one refresh runs from the event
// loop, as a click would start it, up to its repaint and the connection log's turn: how long
// the window could not repaint or take input. The snapshot runs on the worker; the merge,
// sort, repaint and the log's comparison here.
double longestStall(qtui::KestrelMainWindow& window) {
    QEventLoop loop;
    QTimer ticker;
    ticker.setInterval(1);
    auto last = Clock::now();
    std::chrono::duration<double> worst{0};
    bool started = false;
    bool ending = false;
    const auto note = [&] {
        const auto now = Clock::now();
        worst = std::max<std::chrono::duration<double>>(worst, now - last);
        last = now;
        // Until the turns that follow the merge (the connection log's) have run too.
        if (started && !ending && !window.form().refreshing() &&
            ui::ThreadWorker::runningJobs() == 0) {
            ending = true;
            // Posted behind whatever the merge left for the loop, so that its repaint counts.
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
        }
    };
    QObject::connect(&ticker, &QTimer::timeout, note);
    ticker.start();
    QTimer::singleShot(0, [&] {
        last = Clock::now();
        window.form().BTNRefreshClick();
        started = true;
    });
    loop.exec();
    note();
    return worst.count();
}

// The longest gap between the ticks of a 1 ms timer over `seconds`, while the window refreshes
// every 10 s (as Timer1 does) and its connection log takes the announced ends.
double longestStallOver(qtui::KestrelMainWindow& window, long seconds) {
    QEventLoop loop;
    QTimer ticker;
    ticker.setInterval(1);
    QTimer refresher;
    refresher.setInterval(10000);
    auto last = Clock::now();
    std::chrono::duration<double> worst{0};
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        worst = std::max<std::chrono::duration<double>>(worst, now - last);
        last = now;
    });
    QObject::connect(&refresher, &QTimer::timeout, [&] {
        if (!window.form().refreshing())
            window.form().BTNRefreshClick();
    });
    ticker.start();
    refresher.start();
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    last = Clock::now();
    loop.exec();
    return worst.count();
}

int main(int argc, char** argv) {
    os::KeepOneHeap(); // as the program does
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: gui_refresh [--tcp-sockets N] [--udp-sockets M] [--runs R] "
                             "[--load PATH] [--churn-rate C [--churn-seconds S]]\n");
        return 2;
    }
    if (options.load.empty())
        options.load = siblingOf(argv[0], "kestrel-socket-load");
    ::signal(SIGPIPE, SIG_IGN);

    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    char settingsDir[] = "/tmp/kestrel-gui-refresh-XXXXXX";
    if (::mkdtemp(settingsDir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string settingsFile = std::string(settingsDir) + "/Kestrel.ini";

    SocketLoad load;
    if (!load.start(options.load, options.tcpSockets, options.udpSockets, options.churnRate)) {
        std::fprintf(stderr, "the load helper %s did not get ready (%s)\n", options.load.c_str(),
                     load.readyLine().c_str());
        return 1;
    }
    std::printf("load: %s\n", load.readyLine().c_str());

    int code = 0;
    {
        QApplication application(argc, argv);
        TFormKestrelServices services = systemFormServices();
        services.settingsFile = settingsFile;
        qtui::KestrelMainWindow window(services);
        window.show();
        QCoreApplication::processEvents();
        const long rssEmpty = residentBytes();

        // The first fill, then one untimed refresh so that every cache is warm.
        window.create();
        QCoreApplication::processEvents();
        window.form().BTNRefreshClick();
        finishRefresh(window);
        QCoreApplication::processEvents();

        std::vector<double> refresh;
        std::vector<double> ss;
        for (int i = 0; i < options.runs; ++i) {
            const auto start = Clock::now();
            window.form().BTNRefreshClick();
            finishRefresh(window);
            QCoreApplication::processEvents(); // the repaint
            const std::chrono::duration<double> elapsed = Clock::now() - start;
            refresh.push_back(elapsed.count());
            const double s = timeSs();
            if (s >= 0)
                ss.push_back(s);
        }
        // One refresh's longest stretch varies with what else the machine does: as many
        // refreshes as timed ones, their median and their worst.
        std::vector<double> stalls;
        for (int run = 0; run < options.runs; ++run)
            stalls.push_back(longestStall(window));
        const double stall = median(stalls);
        const double worstStall = *std::max_element(stalls.begin(), stalls.end());
        if (options.churnRate > 0) {
            const std::size_t before = window.connectionLog().rowCount();
            const double churnStall = longestStallOver(window, options.churnSeconds);
            std::printf("churn %ld connections/s for %ld s, refreshing every 10 s: longest stretch "
                        "without events %.0f ms (target <= 50 ms); log rows %zu -> %zu\n",
                        options.churnRate, options.churnSeconds, churnStall * 1000, before,
                        window.connectionLog().rowCount());
        }
        // The worker frees the last snapshot and trims the heap after the merge.
        while (ui::ThreadWorker::runningJobs() > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const long rss = residentBytes();
        const std::size_t rows = window.list().rowCount();
        const double refreshMedian = median(refresh);
        const double ssMedian = median(ss);

        std::printf("rows shown: %zu (model rows %d)\n", rows, window.model()->rowCount());
        std::printf("refresh (BTNRefreshClick + repaint), median of %d: %.3f s\n", options.runs,
                    refreshMedian);
        if (ss.empty()) {
            std::printf("ss -tan: could not run\n");
        } else {
            std::printf("ss -tan, median of %zu: %.3f s\n", ss.size(), ssMedian);
            std::printf("ratio refresh / ss -tan: %.2f (target <= 3)\n", refreshMedian / ssMedian);
        }
        std::printf("longest stretch the event loop could not run during a refresh, median of "
                    "%zu: %.0f ms (target <= 50 ms); worst %.0f ms\n",
                    stalls.size(), stall * 1000, worstStall * 1000);
        std::printf("VmRSS with %zu rows: %.1f MB (target <= 100 MB); empty window %.1f MB\n", rows,
                    static_cast<double>(rss) / 1e6, static_cast<double>(rssEmpty) / 1e6);
        if (rows > 0)
            std::printf("bytes per row: %.0f (whole process / rows), %.0f (growth over the empty "
                        "window / rows)\n",
                        static_cast<double>(rss) / static_cast<double>(rows),
                        static_cast<double>(rss - rssEmpty) / static_cast<double>(rows));
        if (rows == 0)
            code = 1;
    }
    load.stop();
    ::unlink(settingsFile.c_str());
    ::rmdir(settingsDir);
    return code;
}
