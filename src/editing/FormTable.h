#pragma once

#include "ui/Picture.h"

#include <QColor>
#include <QDialog>

#include <array>

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QToolButton;

namespace kalvora {

class PictureControl;

// The kind an arrow key moves to from a kind of the dialog's grid of five
// columns and four rows; at an edge the kind stays. Other keys: -1.
int kindGridStep(int kind, int key);

// The bed properties dialog: code, name and kind of one bed. The twenty kinds
// are shown as cells of a grid, each with the kind's idle picture and a radio
// button; the colour of a cell's panel marks the choice.
//
// The kind picture set may be missing (start-up failed before it was built) or
// hold entries without a readable picture: such cells stay empty and the
// dialog works all the same.
//
// From the keyboard: the arrow keys move from kind to kind over the grid,
// choosing each as a click on its radio button does; Enter is OK (also in
// the text fields) and Escape is cancel.
class TFormTable : public QDialog {
    Q_OBJECT
public:
    static constexpr int KindCount = 20;

    explicit TFormTable(const std::array<PictureHolder, KindCount> *iTable,
                        QWidget *parent = nullptr);

    // Copies the kind pictures from the set again (it may have been built
    // after the dialog).
    void reloadPictures();

    // Checks the radio button of the kind and unchecks all others, in kind
    // order; checking a button that was unchecked runs RadioButton1Click.
    void setChoice(int kind);
    // The highest kind whose radio button is checked; -1 when none is.
    int choice() const;
    QColor panelColor(int k) const;

    // Handlers of the controls.
    void RadioButton1Click(int s);
    void Panel2Click(int s);
    void Image1Click(int s);
    void ButtonGroup1Items0Click(); // cancel
    void ButtonGroup1Items1Click(); // OK

    QFrame *Panel1 = nullptr;
    QWidget *ButtonGroup1 = nullptr;
    QToolButton *ButtonCancel = nullptr;
    QToolButton *ButtonOk = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *eCode = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *eL = nullptr;
    QLabel *LabelHint = nullptr;
    QLabel *Label3 = nullptr;
    QFrame *GridPanel1 = nullptr;
    std::array<QFrame *, KindCount> pans {};
    std::array<PictureControl *, KindCount> images {};
    std::array<QRadioButton *, KindCount> rbs {};

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormCreate();
    void setPanelColor(int k, const QColor &color);

    const std::array<PictureHolder, KindCount> *m_table;
    int m_pressedPanel = -1;
};

} // namespace kalvora
