// A receive, a send, or the recovery the program runs at start-up, in a process of its own, which kills itself
// with SIGKILL at a chosen point, for the crash tests, or waits there, for the tests of two copies at once. Every
// file step of the transaction and every step of the workflow counts as one event; "download" kills in the middle
// of the download, "unpack" as the unpacking starts; "pause <n>" prints "paused" at event n and goes on once a
// line arrives on its input.
//   crash_child receive <data folder> <tova|ledgra|online> <host:port> <kill at: 0 = never | n | download | unpack>
//   crash_child send <data folder> <tova|ledgra|online> <host:port> <kill at>
//   crash_child recover <data folder> <kill at>
// Prints "status <line>" and "step <event> <name>" as they come, "box <text>" for each box, and "events <n>" when
// it ran to its end.
#include "ftp/cFTP.h"
#include "platform/inet/Inet.h"
#include "platform/zipengine/ZipEngine.h"
#include "support/ScriptedUi.h"
#include "transfer/Leftover.h"
#include "transfer/ReceiveFiles.h"
#include "transfer/SendFiles.h"
#include "transfer/TransferRun.h"

#include <QCoreApplication>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

void KillNow() {
    std::fflush(stdout);
    // Ended at once by the system, as a power cut or the task manager would: nothing of the program runs on.
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 0xC000013A); // an NTSTATUS: QProcess sees a crash
#else
    std::raise(SIGKILL);
#endif
}

class CountingRun : public TransferRun {
public:
    CountingRun(long killAt, long pauseAt) : m_KillAt(killAt), m_PauseAt(pauseAt) {}
    void PrintStatus(const std::string& text) override { std::printf("status %s\n", text.c_str()); }
    void EnableOtherTransfer(bool) override {}
    void BeginStep(const std::string& step, bool) override {
        m_Step = step;
        m_LastDone = 0;
        std::printf("step %ld %s\n", m_Events + 1, step.c_str());
        Event();
    }
    bool Progress(std::uint64_t done, std::uint64_t) override {
        // A file done is a step; the same count again only keeps a wait alive.
        if (done > m_LastDone) {
            m_LastDone = done;
            Event();
        }
        return true;
    }
    bool Cancelled() const override { return false; }
    bool Leaving() const override { return false; }
    long Events() const { return m_Events; }
    const std::string& Step() const { return m_Step; }

private:
    void Event() {
        if (++m_Events == m_KillAt)
            KillNow();
        if (m_Events == m_PauseAt) {
            std::printf("paused\n");
            std::fflush(stdout);
            std::string line;
            std::getline(std::cin, line);
        }
    }
    long m_KillAt;
    long m_PauseAt;
    long m_Events = 0;
    std::string m_Step;
    std::uint64_t m_LastDone = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const std::string mode = argv[1];
    const std::string dataFolder = argv[2];
    std::string killAt = argv[argc - 1];
    long pauseAt = 0;
    if (argc > 2 && std::strcmp(argv[argc - 2], "pause") == 0) {
        pauseAt = std::stol(killAt);
        killAt = "0";
        --argc;
    }
    const bool named = killAt == "download" || killAt == "unpack";
    CountingRun run(named ? 0 : std::stol(killAt), pauseAt);
    ui::ScriptedUi ui;
    const auto report = [&](bool ok) {
        for (const auto& box : ui.boxes)
            std::printf("box %s\n", box.text.c_str());
        std::printf("events %ld\n", run.Events());
        return ok ? 0 : 1;
    };

    if (mode == "recover") {
        RecoverAtStartUp({dataFolder}, run);
        return report(ui.boxes.empty());
    }
    if ((mode != "receive" && mode != "send") || argc != 6)
        return 2;

    // The named points: the middle of the download (the server is throttled) and of the unpacking.
    inet::SetProgressHook([&](std::uint64_t done, std::uint64_t total) {
        if (killAt == "download" && run.Step().rfind("Receiving", 0) == 0 && done > 0 && done < total)
            KillNow();
        return true;
    });
    zipengine::SetProgressHook([&](std::uint64_t, std::uint64_t) {
        // The engine reports as it starts, then by time: the first report is the one point that is certain.
        if (killAt == "unpack")
            KillNow();
        return true;
    });

    const std::string product = argv[3];
    TransferSettings s; // what the receive reads
    s.TestedHost = argv[4];
    s.User = "cust01";
    s.Password = "secret";
    s.DataFolder = dataFolder;
    s.LocalFixedArchive = dataFolder + "FIXED.ZIP";
    s.RemoteFixedArchive = "/home/cust01/FIXED.ZIP";
    s.LocalSendArchive = dataFolder + "ZEL.ZIP";
    s.RemoteSendArchive = "/home/cust01/ZEL.ZIP";
    s.UseTova = product == "tova";
    s.UseLedgra = !s.UseTova;
    s.LedgraOnline = product == "online";
    ui.answers = {ui::Answer::Ok};
    cFTP ftp;
    return report(mode == "send" ? SendFiles(s, ftp, run).Run() : ReceiveFiles(s, ftp, run).Run());
}
