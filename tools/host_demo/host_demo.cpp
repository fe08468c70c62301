// The service doing its job without Wine: the program's own code, built for the host against
// the Windows stand-in and its simulated firmware. It installs the service, starts it as the
// SCM does, switches the simulated internet connection off and on while printing the
// simulated LED after each of the service's one-second polls, then stops and removes the
// service. It exits with 1 when the LED does not follow. Run through tools/demo.sh.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include <device.h>
#include <winsim/firmware.h>
#include <winsim/system.h>

#include "glintwatch.h"

namespace {

constexpr uint32_t kPollPeriodMs = 1000;  // how often the service asks for the connection
constexpr int kPassesPerStep = 2;

// A switch of the simulated connection and what the LED must show after each pass that
// follows it.
struct ConnectionStep {
    const char* heading;
    const char* change;
    BOOL connected;
    const char* led;
};

constexpr ConnectionStep kConnectionSteps[] = {
    {"The service polls the connection once a second and sets the LED", "internet on", TRUE, "on"},
    {"Switching the (simulated) internet connection off", "internet gone", FALSE, "off"},
    {"And on again", "internet back", TRUE, "on"},
};

void Say(const char* text) { std::printf("\n== %s\n", text); }

// Prints the program's own lines indented under the step that made them.
void Show(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::printf("   %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

std::string Led() { return std::string(devicesim::DescribeLed(winsim::Firmware().led())); }

double SimulatedSeconds() { return static_cast<double>(winsim::ClockNow()) / 1000.0; }

// While it lives, the process's standard output goes to a temporary file, so that what the
// program prints can be shown as part of a step (or dropped). Where the file cannot be made,
// the output goes straight through.
class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        if (file_ == nullptr) return;
        savedStdout_ = dup(STDOUT_FILENO);
        if (savedStdout_ >= 0) dup2(fileno(file_), STDOUT_FILENO);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    ~StdoutCapture() {
        Restore();
        if (file_ != nullptr) std::fclose(file_);
    }

    // Ends the capture and returns what was written during it.
    std::string Finish() {
        Restore();
        std::string text;
        if (file_ == nullptr) return text;
        std::rewind(file_);
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_))
            text.push_back(static_cast<char>(c));
        return text;
    }

  private:
    void Restore() {
        if (savedStdout_ < 0) return;
        std::fflush(stdout);
        dup2(savedStdout_, STDOUT_FILENO);
        close(savedStdout_);
        savedStdout_ = -1;
    }

    std::FILE* file_ = std::tmpfile();
    int savedStdout_ = -1;
};

// The program run from a console with one option; returns what it printed.
std::string RunCommand(const char* option) {
    std::string program = "glintwatch";
    std::string argument = option;
    char* argv[] = {program.data(), argument.data(), nullptr};
    StdoutCapture capture;
    GlintwatchMain(2, argv);
    return capture.Finish();
}

// Switches the connection as `step` says and lets the service poll; true when the LED
// showed what the step wants after every pass.
bool Follow(const ConnectionStep& step) {
    Say(step.heading);
    winsim::SetInternetConnected(step.connected);
    std::printf("   %s: LED is %s\n", step.change, Led().c_str());
    bool followed = true;
    for (int pass = 0; pass < kPassesPerStep; ++pass) {
        const unsigned waits = winsim::TimedWaitsBegun();
        winsim::AdvanceClock(kPollPeriodMs);
        if (!winsim::AwaitTimedWaits(waits + 1)) {
            std::printf("   the service did not come back to its wait\n");
            return false;
        }
        const std::string led = Led();
        std::printf("   t = %.1f s: LED is %s", SimulatedSeconds(), led.c_str());
        if (led != step.led) {
            std::printf(" (should be %s)", step.led);
            followed = false;
        }
        std::printf("\n");
    }
    return followed;
}

// Prints what the service wrote to the event log: it writes only on a failure.
bool ShowLoggedEvents() {
    const auto events = winsim::LoggedEvents();
    for (const auto& event : events) {
        std::printf("   event log:\n");
        for (std::wstring text : event.strings) {
            while (!text.empty() && text.back() == L'\n') text.pop_back();
            std::printf("      %ls\n", text.c_str());
        }
    }
    return events.empty();
}

// Starts the service as the SCM does, walks the connection steps and stops it; true when
// the LED followed every pass and the service stopped without a failure.
bool RunService() {
    Say("Starting the service as the SCM does: the program hands its thread to the dispatcher");
    winsim::LaunchAsService();
    std::string program = "glintwatch";
    char* argv[] = {program.data(), nullptr};
    std::thread process;
    bool running = false;
    {
        // Before the dispatcher takes its thread the program prints its usage; under the SCM
        // that text goes nowhere, and here it is dropped the same way.
        StdoutCapture dropped;
        process = std::thread([&argv] { GlintwatchMain(1, argv); });
        running = winsim::AwaitStatus(SERVICE_RUNNING) && winsim::AwaitTimedWaits(1);
    }
    bool followed = running;
    if (running) {
        std::printf("   t = %.1f s: running; LED is %s until the first poll\n", SimulatedSeconds(),
                    Led().c_str());
        for (const ConnectionStep& step : kConnectionSteps) {
            followed = Follow(step);
            if (!followed) break;
        }
    } else {
        std::printf("   the service did not start\n");
    }

    Say("Stopping the service (the SCM's stop control)");
    winsim::SendControl(SERVICE_CONTROL_STOP);  // false when the service has already ended
    process.join();
    const auto reports = winsim::StatusReports();
    const bool reportedStop = !reports.empty() && reports.back().dwCurrentState == SERVICE_STOPPED;
    if (reportedStop) {
        std::printf("   t = %.1f s: stopped, exit code %lu\n", SimulatedSeconds(),
                    static_cast<unsigned long>(reports.back().dwWin32ExitCode));
    } else {
        std::printf("   the service did not report that it stopped\n");
    }
    const bool stopped = reportedStop && reports.back().dwWin32ExitCode == 0;
    const bool quiet = ShowLoggedEvents();
    return followed && stopped && quiet;
}

}  // namespace

int main() {
    Say("The service on the host's stand-in for Windows, with a simulated firmware and clock");
    winsim::SetClockMode(winsim::ClockMode::Manual);

    Say("glintwatch -install");
    Show(RunCommand("-install"));
    bool ok = winsim::FindService(kServiceName).has_value();

    ok = RunService() && ok;

    // The remove command sleeps while a stop it asked for is pending; no one steps the clock
    // for it.
    winsim::SetClockMode(winsim::ClockMode::Automatic);
    Say("glintwatch -remove");
    Show(RunCommand("-remove"));
    ok = !winsim::FindService(kServiceName) && ok;

    std::printf(ok ? "\nDone.\n" : "\nThe service did not do its job (see above).\n");
    return ok ? 0 : 1;
}
