// Runs one Send Files or Receive Files, as the window would, and reports how it went as one JSON line.
//   workflow_bench <send|receive> <data folder> <tova|ledgra|online> <host:port> <user> <password>
//                  [<cancel at step n> <after ms>]
// The workflow runs inside a QApplication's event loop. A probe timer on that loop ticks every 5 ms, and the
// longest gap between ticks is kept for every step the gap overlaps: that is how long the window would have
// been frozen. With a cancel point, the cancel is requested as a click would be, from the event loop, once the
// n-th step (counting from 1) has run for the given time; the latency counts from that moment to the return of
// Run, rollback included.
#include "Report.h"
#include "ftp/cFTP.h"
#include "platform/ui/UiServices.h"
#include "transfer/ReceiveFiles.h"
#include "transfer/SendFiles.h"
#include "transfer/TransferRun.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

using bench::Json;
using bench::PeakResidentMiB;

// Answers every box with OK, as a user who confirms the backup warning and reads the outcome.
class BenchUi : public ui::Services {
public:
    ui::Answer MsgBox(const std::string& text, ui::Buttons, ui::Icon, int, const std::string& title) override {
        boxes.push_back(title + ": " + text);
        return ui::Answer::Ok;
    }
    std::string InputBox(const std::string&) override { return {}; }
    void DoEvents() override { QCoreApplication::processEvents(); }
    void SetBusy(bool) override {}
    void End() override {}

    std::vector<std::string> boxes;
};

class BenchRun : public TransferRun {
public:
    struct Step {
        std::string name;
        Clock::time_point start;
        Clock::time_point end;
        long progressCalls = 0;
        double longestStall = 0;   // ms between probe ticks
        double longestSilence = 0; // ms without a Progress call
        Clock::time_point lastProgress;
    };

    BenchRun(int cancelStep, double cancelAfterMs) : m_CancelStep(cancelStep), m_CancelAfterMs(cancelAfterMs) {}

    // Run is about to be called: what comes before the first named step counts as "starting".
    void Start() {
        const auto now = Clock::now();
        m_LastTick = m_LastPump = now;
        Open("starting", now);
    }

    void PrintStatus(const std::string& text) override { status.push_back(text); }
    void EnableOtherTransfer(bool) override {}
    void BeginStep(const std::string& step, bool) override {
        const auto now = Clock::now();
        Close(now);
        Open(step, now);
        if (static_cast<int>(steps.size()) - 1 == m_CancelStep)
            m_CancelAt = now + std::chrono::microseconds(static_cast<long>(m_CancelAfterMs * 1000));
    }
    // Pumps events as the window's run does: at most every 15 ms.
    bool Progress(std::uint64_t, std::uint64_t) override {
        const auto now = Clock::now();
        Step& step = steps.back();
        ++step.progressCalls;
        step.longestSilence = std::max(step.longestSilence, Ms(now - step.lastProgress));
        step.lastProgress = now;
        if (now - m_LastPump >= std::chrono::milliseconds(15)) {
            m_LastPump = now;
            ui::Current().DoEvents();
        }
        if (m_Cancelled && m_Refused == Clock::time_point{})
            m_Refused = Clock::now();
        return !m_Cancelled;
    }
    bool Cancelled() const override { return m_Cancelled; }
    bool Leaving() const override { return false; }

    // The probe: one tick of the event loop.
    void Tick() {
        const auto now = Clock::now();
        Credit(now);
        if (!m_Cancelled && m_CancelAt != Clock::time_point{} && now >= m_CancelAt)
            m_Cancelled = true;
    }

    // Run has returned.
    void Finish() {
        const auto now = Clock::now();
        Credit(now);
        Close(now);
        m_Returned = now;
    }

    double CancelLatencyMs() const { return m_Cancelled ? Ms(m_Returned - m_CancelAt) : -1; }
    double CancelRefusedMs() const { return m_Refused != Clock::time_point{} ? Ms(m_Refused - m_CancelAt) : -1; }

    std::vector<Step> steps;
    std::vector<std::string> status;

private:
    void Open(const std::string& name, Clock::time_point now) {
        steps.push_back({name, now, now, 0, 0, 0, now});
        m_Active.push_back(steps.size() - 1);
    }
    void Close(Clock::time_point now) {
        Step& step = steps.back();
        step.end = now;
        step.longestSilence = std::max(step.longestSilence, Ms(now - step.lastProgress));
    }
    // A gap between ticks froze every step it overlapped.
    void Credit(Clock::time_point now) {
        const double gap = Ms(now - m_LastTick);
        for (std::size_t i : m_Active)
            steps[i].longestStall = std::max(steps[i].longestStall, gap);
        m_Active.assign(1, steps.size() - 1);
        m_LastTick = now;
    }

    int m_CancelStep;
    double m_CancelAfterMs;
    Clock::time_point m_LastTick;
    Clock::time_point m_LastPump;
    Clock::time_point m_CancelAt{};
    Clock::time_point m_Refused{};
    Clock::time_point m_Returned{};
    std::vector<std::size_t> m_Active;
    bool m_Cancelled = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 7 && argc != 9) {
        std::fprintf(stderr,
                     "usage: %s <send|receive> <data folder> <tova|ledgra|online> <host:port> <user> <password> "
                     "[<cancel at step n> <after ms>]\n",
                     argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string job = argv[1];
    const std::string product = argv[3];
    const std::string user = argv[5];

    TransferSettings s;
    s.TestedHost = argv[4];
    s.User = user;
    s.Password = argv[6];
    s.DataFolder = std::string(argv[2]) + "\\";
    s.LocalSendArchive = s.DataFolder + "ZEL.ZIP";
    s.LocalFixedArchive = s.DataFolder + "FIXED.ZIP";
    s.RemoteSendArchive = "/home/" + user + "/ZEL.ZIP";
    s.RemoteFixedArchive = "/home/" + user + "/FIXED.ZIP";
    s.BackupWarning = "It is HIGHLY recommended that you first make a copy of " + s.DataFolder;
    s.UseTova = product == "tova";
    s.UseLedgra = !s.UseTova;
    s.LedgraOnline = product == "online";

    BenchUi ui;
    ui::Install(&ui);
    BenchRun run(argc == 9 ? std::atoi(argv[7]) : -1, argc == 9 ? std::atof(argv[8]) : 0);
    cFTP ftp;
    bool ok = false;
    double seconds = 0;

    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&run] { run.Tick(); });
    // Started from the event loop, as a click on the button is.
    QTimer::singleShot(0, [&] {
        probe.start();
        PlatformHooks hooks(run);
        run.Start();
        const auto start = Clock::now();
        ok = job == "send" ? SendFiles(s, ftp, run).Run() : ReceiveFiles(s, ftp, run).Run();
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        run.Finish();
        probe.stop();
        QCoreApplication::quit();
    });
    QApplication::exec();
    ui::Install(nullptr);

    std::string out = "{\"ok\":" + std::string(ok ? "true" : "false") + ",\"seconds\":" + std::to_string(seconds) +
                      ",\"cancel_latency_ms\":" + std::to_string(run.CancelLatencyMs()) +
                      ",\"cancel_refused_ms\":" + std::to_string(run.CancelRefusedMs()) +
                      ",\"peak_rss_mib\":" + std::to_string(PeakResidentMiB()) + ",\"steps\":[";
    for (std::size_t i = 0; i < run.steps.size(); ++i) {
        const auto& step = run.steps[i];
        out += std::string(i ? "," : "") + "{\"name\":" + Json(step.name) +
               ",\"seconds\":" + std::to_string(Ms(step.end - step.start) / 1000) +
               ",\"progress_calls\":" + std::to_string(step.progressCalls) +
               ",\"longest_stall_ms\":" + std::to_string(step.longestStall) +
               ",\"longest_silence_ms\":" + std::to_string(step.longestSilence) + "}";
    }
    out += "],\"boxes\":[";
    for (std::size_t i = 0; i < ui.boxes.size(); ++i)
        out += std::string(i ? "," : "") + Json(ui.boxes[i]);
    out += "],\"status\":[";
    for (std::size_t i = 0; i < run.status.size(); ++i)
        out += std::string(i ? "," : "") + Json(run.status[i]);
    out += "]}";
    std::printf("%s\n", out.c_str());
    return 0;
}
