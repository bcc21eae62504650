#include "console/frmProgress.h"

#include "platform/ui/QtUi.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

QString FormatBytes(std::uint64_t bytes) {
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    const double kb = bytes / 1024.0;
    if (kb < 1024)
        return QStringLiteral("%1 KB").arg(kb, 0, 'f', 0);
    const double mb = kb / 1024.0;
    if (mb < 1024)
        return QStringLiteral("%1 MB").arg(mb, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(mb / 1024.0, 0, 'f', 2);
}

QString FormatDuration(double seconds) {
    const auto total = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
    if (total < 60)
        return QStringLiteral("%1 s").arg(total);
    const long long minutes = total / 60;
    if (minutes < 60)
        return QStringLiteral("%1 min %2 s").arg(minutes).arg(total % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

frmProgress::frmProgress(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_lblStep(new QLabel(this)), m_barProgress(new QProgressBar(this)), m_lblBytes(new QLabel(this)),
      m_lblRate(new QLabel(this)), m_lblTimeLeft(new QLabel(this)),
      m_cmdCancel(new QPushButton(QStringLiteral("&Cancel"), this)) {
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QString::fromLatin1(ui::AppTitle));
    setWindowIcon(ui::AppIcon());
    setModal(false);

    m_lblStep->setObjectName(QStringLiteral("lblStep"));
    m_lblStep->setWordWrap(true);
    m_barProgress->setObjectName(QStringLiteral("barProgress"));
    m_barProgress->setAccessibleName(QStringLiteral("Progress"));
    m_lblBytes->setObjectName(QStringLiteral("lblBytes"));
    m_lblRate->setObjectName(QStringLiteral("lblRate"));
    m_lblTimeLeft->setObjectName(QStringLiteral("lblTimeLeft"));
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cmdCancel->setAutoDefault(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblStep);
    layout->addWidget(m_barProgress);
    layout->addWidget(m_lblBytes);
    layout->addWidget(m_lblRate);
    layout->addWidget(m_lblTimeLeft);
    layout->addWidget(m_cmdCancel, 0, Qt::AlignRight);
    setFixedWidth(ui::Twips(this, 5400));

    connect(m_cmdCancel, &QPushButton::clicked, this, &frmProgress::cmdCancel_Click);
}

void frmProgress::ShowStep(const QString& step) {
    m_lblStep->setText(step);
    m_barProgress->setRange(0, 0);
    m_lblBytes->clear();
    m_lblRate->clear();
    m_lblTimeLeft->clear();
    m_CancelRequested = false;
    m_cmdCancel->setEnabled(true);
}

void frmProgress::ShowProgress(std::uint64_t done, std::uint64_t total, double rate, bool files) {
    const auto amount = [files](std::uint64_t n) { return files ? QString::number(n) : FormatBytes(n); };
    if (total > 0) {
        m_barProgress->setRange(0, 1000);
        m_barProgress->setValue(static_cast<int>(std::min<std::uint64_t>(done, total) * 1000 / total));
        m_lblBytes->setText(QStringLiteral("%1 of %2%3")
                                .arg(amount(done), amount(total), files ? QStringLiteral(" files") : QString()));
    } else {
        m_barProgress->setRange(0, 0);
        m_lblBytes->setText(done > 0 ? amount(done) + (files ? QStringLiteral(" files") : QString()) : QString());
    }
    m_lblRate->setText(rate <= 0 ? QString()
                       : files   ? QStringLiteral("%1 files/s").arg(static_cast<std::uint64_t>(rate))
                                 : QStringLiteral("%1/s").arg(FormatBytes(static_cast<std::uint64_t>(rate))));
    if (rate > 0 && total > done)
        m_lblTimeLeft->setText(QStringLiteral("About %1 left").arg(FormatDuration((total - done) / rate)));
    else
        m_lblTimeLeft->clear();
}

void frmProgress::ShowWaiting(double seconds) {
    m_barProgress->setRange(0, 0);
    m_lblRate->clear();
    m_lblTimeLeft->setText(QStringLiteral("Trying again in %1").arg(FormatDuration(seconds)));
}

void frmProgress::reject() {
    cmdCancel_Click();
}

void frmProgress::cmdCancel_Click() {
    if (m_CancelRequested)
        return;
    m_CancelRequested = true;
    m_cmdCancel->setEnabled(false);
    m_lblStep->setText(m_lblStep->text() + QStringLiteral("\nCancelling..."));
    Q_EMIT cancelRequested();
}
