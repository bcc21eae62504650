#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// Asks which product to work on when both are installed.
class frmChoose : public QDialog {
    Q_OBJECT
public:
    explicit frmChoose(QWidget* owner = nullptr);

    bool TovaSelected() const;
    bool LedgraSelected() const;
    // Cancel was pressed: the program has been ended.
    bool Cancelled() const { return m_Cancelled; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Command1_Click();
    void Command2_Click();

    QLabel* m_Label1;
    QGroupBox* m_Frame1;
    QRadioButton* m_opLedgra;
    QRadioButton* m_opTova;
    QPushButton* m_Command1;
    QPushButton* m_Command2;
    bool m_Cancelled = false;
};
