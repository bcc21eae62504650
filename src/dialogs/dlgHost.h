#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Lets a support person point the program at another FTP server.
class dlgHost : public QDialog {
    Q_OBJECT
public:
    explicit dlgHost(QWidget* owner = nullptr);

    // Whether the last display was closed with OK.
    bool Accepted() const { return m_Accepted; }
    QString HostText() const;

    void reject() override; // Esc and the close box act as Cancel

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OKButton_Click();
    void CancelButton_Click();

    QLabel* m_Label1;
    QLineEdit* m_txtHostname;
    QPushButton* m_OKButton;
    QPushButton* m_CancelButton;
    bool m_Accepted = false;
};
