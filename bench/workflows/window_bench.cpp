// Receive Files through the program's own main window, as a user runs it, and reports how it went as one JSON line.
//   window_bench <user> <password>
// The window starts as the program does, on the installation WINDIR names and the server ZEL_FTP_HOST names; every
// box is answered with OK at once (the start-up confirmation, the backup warning). The user name and password are
// typed, Test Connection is clicked, then Receive Files: the times count from that click to the status line that
// ends a receive without errors, and to the end of the run (the click's handler has returned, the buttons are back).
// A probe timer on the window's event loop ticks every 5 ms; the longest gap between ticks during the run is how
// long the window was frozen (reported with when it ended, from the click, and the status line shown then).
#include "Report.h"
#include "console/frmFtpTest.h"
#include "platform/ui/QtUi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const Finished = "has finished unzipping without errors.";

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

using bench::Json;
using bench::PeakResidentMiB;

// The program's own services, but a user who answers every box with OK at once.
class AnsweringUi : public ui::QtUi {
public:
    ui::Answer MsgBox(const std::string& text, ui::Buttons, ui::Icon, int, const std::string& title) override {
        boxes.push_back((title.empty() ? ui::AppTitle : title) + std::string(": ") + text);
        return ui::Answer::Ok;
    }
    std::vector<std::string> boxes;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <user> <password>   (WINDIR and ZEL_FTP_HOST set)\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AnsweringUi ui;
    ui::Install(&ui);
    // As the program sets up its window (frmFtpTest::Run).
    QApplication::setWindowIcon(ui::AppIcon());
    QFont small = QApplication::font();
    small.setPointSizeF(8.25);
    QApplication::setFont(small);

    std::string failure;
    double toStatus = -1, toEnd = -1, longestStall = 0, stallAt = 0;
    std::string stallAfter;
    std::size_t boxesBefore = 0;
    auto window = std::make_unique<frmFtpTest>();
    if (!window->Load()) {
        failure = "the window did not start";
    } else {
        window->show();
        auto* status = window->findChild<QPlainTextEdit*>(QStringLiteral("Status"));
        auto* receive = window->findChild<QAbstractButton*>(QStringLiteral("cmdGet"));
        window->findChild<QLineEdit*>(QStringLiteral("txtUser"))->setText(QString::fromLocal8Bit(argv[1]));
        window->findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(QString::fromLocal8Bit(argv[2]));
        QTest::mouseClick(window->findChild<QAbstractButton*>(QStringLiteral("cmdTest")), Qt::LeftButton);
        if (!receive->isEnabled()) {
            failure = "Test Connection did not connect";
        } else {
            Clock::time_point click, finished, lastTick;
            QTimer probe;
            probe.setTimerType(Qt::PreciseTimer);
            probe.setInterval(5);
            // Where the longest gap fell: its end, from the click, and the status line shown then.
            const auto credit = [&](Clock::time_point now) {
                if (Seconds(now - lastTick) * 1000 > longestStall) {
                    longestStall = Seconds(now - lastTick) * 1000;
                    stallAt = Seconds(now - click);
                    const std::string& log = window->StatusText();
                    const auto line = log.rfind("\r\n- ");
                    stallAfter = line == std::string::npos ? log : log.substr(line + 4);
                }
                lastTick = now;
            };
            QObject::connect(&probe, &QTimer::timeout, [&] { credit(Clock::now()); });
            // The status log is written whole at each line: the final line is seen the moment it is shown.
            QObject::connect(status, &QPlainTextEdit::textChanged, [&] {
                if (click != Clock::time_point{} && finished == Clock::time_point{} &&
                    window->StatusText().find(Finished) != std::string::npos)
                    finished = Clock::now();
            });
            boxesBefore = ui.boxes.size();
            // Clicked from the event loop, as a user's click arrives.
            QTimer::singleShot(0, [&] {
                probe.start();
                click = lastTick = Clock::now();
                QTest::mouseClick(receive, Qt::LeftButton);
                const auto end = Clock::now();
                credit(end);
                probe.stop();
                toEnd = Seconds(end - click);
                if (finished != Clock::time_point{})
                    toStatus = Seconds(finished - click);
                QCoreApplication::quit();
            });
            QApplication::exec();
            if (toStatus < 0)
                failure = "the receive did not finish without errors";
        }
    }

    std::string out = "{\"ok\":" + std::string(failure.empty() ? "true" : "false") + ",\"failure\":" + Json(failure) +
                      ",\"to_status_s\":" + std::to_string(toStatus) + ",\"seconds\":" + std::to_string(toEnd) +
                      ",\"longest_stall_ms\":" + std::to_string(longestStall) +
                      ",\"longest_stall_at_s\":" + std::to_string(stallAt) +
                      ",\"longest_stall_after\":" + Json(stallAfter) +
                      ",\"peak_rss_mib\":" + std::to_string(PeakResidentMiB()) + ",\"boxes\":[";
    for (std::size_t i = boxesBefore; i < ui.boxes.size(); ++i)
        out += std::string(i > boxesBefore ? "," : "") + Json(ui.boxes[i]);
    out += "],\"status\":" + Json(window->StatusText()) + "}";
    window.reset();
    ui::Install(nullptr);
    std::printf("%s\n", out.c_str());
    return 0;
}
