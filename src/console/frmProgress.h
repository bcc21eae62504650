#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

// Shows a long step of a workflow with its progress, and offers Cancel.
class frmProgress : public QDialog {
    Q_OBJECT
public:
    explicit frmProgress(QWidget* owner);

    void ShowStep(const QString& step);
    // done of total bytes, or files (total 0 = unknown); rate per second (0 = not known yet).
    void ShowProgress(std::uint64_t done, std::uint64_t total, double rate, bool files = false);
    // A retry is due in so many seconds.
    void ShowWaiting(double seconds);
    bool CancelRequested() const { return m_CancelRequested; }
    void ResetCancel() { m_CancelRequested = false; }

    void reject() override; // Esc and the close box ask to cancel

Q_SIGNALS:
    void cancelRequested();

private:
    void cmdCancel_Click();

    QLabel* m_lblStep;
    QProgressBar* m_barProgress;
    QLabel* m_lblBytes;
    QLabel* m_lblRate;
    QLabel* m_lblTimeLeft;
    QPushButton* m_cmdCancel;
    bool m_CancelRequested = false;
};

// "1.5 MB", "820 KB", "12 bytes".
QString FormatBytes(std::uint64_t bytes);
// "1 min 05 s", "12 s".
QString FormatDuration(double seconds);
