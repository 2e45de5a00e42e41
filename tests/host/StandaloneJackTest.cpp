// The Standalone app for real: under Xvfb, against a JACK server with the dummy backend (Debian's
// jackd2, started and stopped here under a private server name). A metronome client feeds the
// app's input and jack_rec records its output, so audio must flow through the plug-in; the
// server's log must show no xrun meanwhile; and the app must quit with status 0 both on a window close
// (WM_DELETE_WINDOW, what a window manager's close button sends) and on SIGTERM, leaving its
// settings saved and its JACK client gone.
#include "XWindowGrab.h"

#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// A child process with its full wait status (JUCE's ChildProcess reports a death by signal as 0).
class Spawned
{
public:
    Spawned(const std::vector<std::string>& args, const std::string& logFile = {})
    {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!logFile.empty()) {
            posix_spawn_file_actions_addopen(
                &actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
        }
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Spawned()
    {
        if (running()) {
            ::kill(pid_, SIGKILL);
            wait(2s);
        }
    }
    bool started() const { return pid_ > 0; }
    bool running()
    {
        if (pid_ <= 0 || done_)
            return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_)
            done_ = true;
        return !done_;
    }
    /// Waits up to `limit` for the process to end; true when it did.
    bool wait(std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (running() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        return !running();
    }
    void signal(int sig) { ::kill(pid_, sig); }
    bool exitedWithZero() const { return done_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }
    std::string describe() const
    {
        if (!done_)
            return "still running";
        if (WIFSIGNALED(status_))
            return "killed by signal " + std::to_string(WTERMSIG(status_));
        return "exit status " + std::to_string(WEXITSTATUS(status_));
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool done_ = false;
};

std::string run(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, p) != nullptr)
            out += buffer;
        pclose(p);
    }
    return out;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

struct JackServer
{
    juce::File folder;
    std::string name;
    std::unique_ptr<Spawned> server;

    JackServer()
        : folder(juce::File::createTempFile("velarune-jack"))
        , name("velarune-test-" + std::to_string(getpid()))
    {
        folder.createDirectory();
        // Every JACK client below, the app included, finds this server through the environment.
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        server
            = std::make_unique<Spawned>(std::vector<std::string> {"jackd", "--no-realtime", "-n", name, "-d",
                                            "dummy", "-r", "48000", "-p", "1024", "-C", "2", "-P", "2"},
                log().getFullPathName().toStdString());
    }
    ~JackServer()
    {
        if (server && server->running()) {
            server->signal(SIGTERM);
            server->wait(5s);
        }
        folder.deleteRecursively();
    }
    juce::File log() const { return folder.getChildFile("jackd.log"); }
    bool ready()
    {
        return waitFor(
            [] { return run("jack_lsp 2>/dev/null").find("system:playback_1") != std::string::npos; }, 10s);
    }
    std::string ports() const { return run("jack_lsp -c 2>/dev/null"); }
};

juce::File freshHome(const juce::File& parent, const char* name)
{
    auto home = parent.getChildFile(name);
    home.createDirectory();
    // The app's audio settings: JACK, its input not muted (JUCE mutes it by default to avoid
    // feedback through speakers; there are none here).
    home.getChildFile(".config").createDirectory();
    home.getChildFile(".config/Velarune.settings").replaceWithText(R"(<?xml version="1.0" encoding="UTF-8"?>
<PROPERTIES>
  <VALUE name="audioSetup">
    <DEVICESETUP deviceType="JACK" audioOutputDeviceName="system" audioInputDeviceName="system"
                 audioDeviceRate="48000.0" audioDeviceBufferSize="1024"/>
  </VALUE>
  <VALUE name="shouldMuteInput" val="0"/>
</PROPERTIES>
)");
    return home;
}

std::unique_ptr<Spawned> startApp(const juce::File& home)
{
    return std::make_unique<Spawned>(std::vector<std::string> {"env",
        "HOME=" + home.getFullPathName().toStdString(),
        "XDG_DATA_HOME=" + home.getChildFile("data").getFullPathName().toStdString(), VELARUNE_STANDALONE});
}

// The app's JACK ports, once it registered them ("Velarune:in_1" or similar).
std::vector<std::string> appPorts(const std::string& lsp, const std::string& direction)
{
    std::vector<std::string> ports;
    juce::StringArray lines;
    lines.addLines(lsp);
    for (const auto& line : lines)
        if (line.startsWith("Velarune") && line.containsIgnoreCase(direction))
            ports.push_back(line.trim().toStdString());
    return ports;
}

// Largest absolute sample of a 16-bit PCM WAV file (what jack_rec -b 16 writes), or -1.
float peakOf(const juce::File& wav)
{
    juce::MemoryBlock bytes;
    if (!wav.loadFileAsData(bytes) || bytes.getSize() < 12)
        return -1.0f;
    const auto* d = static_cast<const uint8_t*>(bytes.getData());
    const size_t size = bytes.getSize();
    const auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(
            d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24);
    };
    int bits = 0;
    for (size_t at = 12; at + 8 <= size;) {
        const uint32_t length = u32(at + 4);
        if (std::memcmp(d + at, "fmt ", 4) == 0 && at + 24 <= size)
            bits = d[at + 22] | d[at + 23] << 8;
        if (std::memcmp(d + at, "data", 4) == 0 && bits == 16) {
            float peak = 0.0f;
            for (size_t i = at + 8; i + 2 <= std::min<size_t>(size, at + 8 + length); i += 2)
                peak = std::max(peak, std::fabs(static_cast<int16_t>(d[i] | d[i + 1] << 8) / 32768.0f));
            return peak;
        }
        at += 8 + length + (length & 1);
    }
    return -1.0f;
}

} // namespace

TEST(StandaloneApp, RunsOnJackWithoutXrunsAndQuitsCleanlyOnCloseAndOnSigterm)
{
    if (juce::SystemStats::getEnvironmentVariable("DISPLAY", {}).isEmpty())
        GTEST_SKIP() << "no X display";
    if (run("command -v jackd jack_lsp jack_connect jack_metro jack_rec").empty())
        GTEST_SKIP() << "JACK tools not installed (package jackd2)";

    ASSERT_TRUE(brindlecot::test::internWindowManagerAtoms());
    JackServer jack;
    ASSERT_TRUE(jack.server->started());
    ASSERT_TRUE(jack.ready()) << jack.log().loadFileAsString();

    // 1. Start, find the ports, feed a metronome in and record what comes out.
    const auto home = freshHome(jack.folder, "home");
    auto app = startApp(home);
    ASSERT_TRUE(app->started());
    ASSERT_TRUE(waitFor([&] { return appPorts(jack.ports(), "out").size() >= 1 || !app->running(); }, 20s))
        << "the app registered no JACK ports:\n"
        << jack.ports();
    ASSERT_TRUE(app->running()) << app->describe();
    const auto ports = jack.ports();
    const auto ins = appPorts(ports, "in");
    const auto outs = appPorts(ports, "out");
    ASSERT_FALSE(ins.empty()) << ports;
    ASSERT_FALSE(outs.empty()) << ports;

    Spawned metro({"jack_metro", "-n", "velarune-metro", "-b", "240", "-f", "880", "-A", "0.3"});
    ASSERT_TRUE(waitFor([&] { return jack.ports().find("velarune-metro:") != std::string::npos; }, 10s));
    std::string metroPort;
    {
        juce::StringArray lines;
        lines.addLines(jack.ports());
        for (const auto& line : lines)
            if (line.startsWith("velarune-metro:"))
                metroPort = line.trim().toStdString();
    }
    for (const auto& in : ins)
        run("jack_connect " + metroPort + " " + in + " 2>&1");
    // Steady state from here: a client joining the graph may cost the server a cycle or two.
    std::this_thread::sleep_for(1s);
    const auto logBefore = jack.log().loadFileAsString();
    const auto recorded = jack.folder.getChildFile("out.wav");
    Spawned rec(
        {"jack_rec", "-f", recorded.getFullPathName().toStdString(), "-d", "3", "-b", "16", outs.front()});
    EXPECT_TRUE(rec.wait(20s)) << "jack_rec did not finish";
    EXPECT_TRUE(app->running()) << app->describe();
    const float peak = peakOf(recorded);
    std::printf("recorded %s from %s: peak %.3f\n", recorded.getFullPathName().toRawUTF8(),
        outs.front().c_str(), peak);
    EXPECT_GT(peak, 0.05f) << "no audio came through the plug-in";
    // The server saw no xrun while the app processed: the plug-in finished every cycle in time.
    const auto steady = jack.log().loadFileAsString().substring(logBefore.length());
    EXPECT_FALSE(steady.contains("XRun") || steady.contains("not finished")) << steady;

    // 2. A window close quits with status 0, saves the settings and leaves JACK.
    ASSERT_TRUE(brindlecot::test::requestClose("Velarune"));
    EXPECT_TRUE(app->wait(15s)) << "the app did not quit on a window close";
    EXPECT_TRUE(app->exitedWithZero()) << app->describe();
    EXPECT_TRUE(home.getChildFile(".config/Velarune.settings").loadFileAsString().contains("filterState"))
        << "settings not saved on close";
    EXPECT_TRUE(waitFor([&] { return appPorts(jack.ports(), "out").empty(); }, 5s)) << jack.ports();

    // 3. SIGTERM quits with status 0 too.
    app = startApp(home);
    ASSERT_TRUE(waitFor([&] { return appPorts(jack.ports(), "out").size() >= 1 || !app->running(); }, 20s));
    std::this_thread::sleep_for(1s);
    app->signal(SIGTERM);
    EXPECT_TRUE(app->wait(15s)) << "the app did not quit on SIGTERM";
    EXPECT_TRUE(app->exitedWithZero()) << app->describe();
    EXPECT_TRUE(waitFor([&] { return appPorts(jack.ports(), "out").empty(); }, 5s)) << jack.ports();

    metro.signal(SIGTERM);
    metro.wait(5s);
}
