#include "FormTable.h"

#include "ui/Fonts.h"
#include "ui/PictureControl.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>

namespace kalvora {

namespace {

constexpr int ClientWidth = 860;
constexpr int ClientHeight = 730;
constexpr int ButtonPanelHeight = 51;
constexpr int CellMargin = 4;

// The bed file separates the fields of a bed's line with ";": a code or name
// holding one would shift the fields when the file is next read. The validator
// drops every ";" from what is typed or pasted and keeps the cursor after the
// text it was after.
class NoSemicolonValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        if (input.contains(u';')) {
            pos -= int(QStringView(input).left(pos).count(u';'));
            input.remove(u';');
        }
        return Acceptable;
    }
};

// A kind's radio button: a click checks it, but never unchecks it. The buttons
// sit in separate panels and are not exclusive by themselves; the dialog's
// handlers uncheck the others.
class KindRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override
    {
        if (!isChecked())
            setChecked(true);
    }
};

QIcon drawnIcon(bool confirm)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (confirm) {
        p.setPen(QPen(QColor(0, 150, 0), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF check[] = { { 6, 17 }, { 13, 24 }, { 26, 8 } };
        p.drawPolyline(check, 3);
    } else {
        p.setPen(QPen(QColor(200, 0, 0), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
        p.drawLine(QPointF(24, 8), QPointF(8, 24));
    }
    p.end();
    return QIcon(pixmap);
}

QToolButton *pictureButton(QWidget *parent, const QString &name, bool confirm, const QString &tip,
                           int left)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setGeometry(left, 0, 42, 40);
    button->setIconSize(QSize(32, 32));
    button->setIcon(drawnIcon(confirm));
    button->setToolTip(tip);
    return button;
}

QLabel *label(QWidget *parent, const QString &name, const QString &text, const QRect &geometry)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

QLineEdit *lineEdit(QWidget *parent, const QString &name, int top)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(88, top, 209, 21);
    edit->setValidator(new NoSemicolonValidator(edit));
    return edit;
}

} // namespace

int kindGridStep(int kind, int key)
{
    constexpr int columns = 5;
    constexpr int rows = TFormTable::KindCount / columns;
    if (kind < 0 || kind >= TFormTable::KindCount)
        return -1;
    const int row = kind / columns;
    const int column = kind % columns;
    switch (key) {
    case Qt::Key_Left:
        return column > 0 ? kind - 1 : kind;
    case Qt::Key_Right:
        return column < columns - 1 ? kind + 1 : kind;
    case Qt::Key_Up:
        return row > 0 ? kind - columns : kind;
    case Qt::Key_Down:
        return row < rows - 1 ? kind + columns : kind;
    default:
        return -1;
    }
}

TFormTable::TFormTable(const std::array<PictureHolder, KindCount> *iTable, QWidget *parent)
    : QDialog(parent)
    , m_table(iTable)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("Редактирование"));
    setFont(consoleFont(11, false));
    setFixedSize(ClientWidth, ClientHeight);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(0, ClientHeight - ButtonPanelHeight, ClientWidth, ButtonPanelHeight);

    ButtonGroup1 = new QWidget(Panel1);
    ButtonGroup1->setObjectName(QStringLiteral("ButtonGroup1"));
    ButtonGroup1->setGeometry(ClientWidth - 8 - 2 * 42, (ButtonPanelHeight - 40) / 2, 2 * 42, 40);
    ButtonCancel = pictureButton(ButtonGroup1, QStringLiteral("ButtonCancel"), false,
                                 QStringLiteral("Отменить изменения"), 0);
    ButtonOk = pictureButton(ButtonGroup1, QStringLiteral("ButtonOk"), true,
                             QStringLiteral("Подтвердить изменения"), 42);
    connect(ButtonCancel, &QToolButton::clicked, this, &TFormTable::ButtonGroup1Items0Click);
    connect(ButtonOk, &QToolButton::clicked, this, &TFormTable::ButtonGroup1Items1Click);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(0, 0, ClientWidth, ClientHeight - ButtonPanelHeight);

    Label1 = label(GroupBox1, QStringLiteral("Label1"), QStringLiteral("Код койки:"),
                   QRect(8, 16, 78, 21));
    eCode = lineEdit(GroupBox1, QStringLiteral("eCode"), 16);
    Label2 = label(GroupBox1, QStringLiteral("Label2"), QStringLiteral("Название:"),
                   QRect(8, 41, 78, 21));
    eL = lineEdit(GroupBox1, QStringLiteral("eL"), 41);
    LabelHint =
        label(GroupBox1, QStringLiteral("LabelHint"),
              QStringLiteral("Символ «;» в коде и названии недопустим."), QRect(312, 41, 530, 21));
    QPalette hintPalette = LabelHint->palette();
    hintPalette.setColor(QPalette::WindowText, QColor(128, 128, 128));
    LabelHint->setPalette(hintPalette);
    Label3 = label(GroupBox1, QStringLiteral("Label3"), QStringLiteral("Вид койки:"),
                   QRect(16, 80, 200, 17));

    GridPanel1 = new QFrame(GroupBox1);
    GridPanel1->setObjectName(QStringLiteral("GridPanel1"));
    GridPanel1->setGeometry(16, 104, 833, 553);
    auto *grid = new QGridLayout(GridPanel1);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    for (int c = 0; c < 5; ++c)
        grid->setColumnStretch(c, 1);
    for (int r = 0; r < 4; ++r)
        grid->setRowStretch(r, 1);

    FormCreate();

    if (QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
}

void TFormTable::FormCreate()
{
    auto *grid = static_cast<QGridLayout *>(GridPanel1->layout());
    for (int k = 0; k < KindCount; ++k) {
        auto *pan = new QFrame(GridPanel1);
        pan->setObjectName(QStringLiteral("pans%1").arg(k));
        pan->setFrameStyle(QFrame::Panel | QFrame::Raised);
        // Every cell takes its share of the grid, whatever its contents ask for.
        pan->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        pan->setAutoFillBackground(true);
        pan->installEventFilter(this); // clicks on the panel run Panel2Click
        grid->addWidget(pan, k / 5, k % 5);
        pans[size_t(k)] = pan;

        auto *image = new PictureControl(pan);
        image->setObjectName(QStringLiteral("images%1").arg(k));
        image->setAnimate(false);
        image->setAutoSize(false);
        image->setPlacement(PictureControl::Placement::Center);
        image->onClick = [this, k] { Image1Click(k); };
        images[size_t(k)] = image;

        auto *rb = new KindRadioButton(QString::number(k), pan);
        rb->setObjectName(QStringLiteral("rbs%1").arg(k));
        rb->setAutoExclusive(false);
        rb->installEventFilter(this); // the arrow keys move over the grid
        connect(rb, &QRadioButton::toggled, this, [this, k](bool on) {
            if (on)
                RadioButton1Click(k);
        });
        rbs[size_t(k)] = rb;

        auto *cell = new QVBoxLayout(pan);
        cell->setContentsMargins(CellMargin, CellMargin, CellMargin, CellMargin);
        cell->setSpacing(CellMargin);
        cell->addWidget(image, 1);
        cell->addWidget(rb, 0);

        setPanelColor(k, palette().color(QPalette::Button));
    }
    reloadPictures();
}

void TFormTable::reloadPictures()
{
    for (int k = 0; k < KindCount; ++k) {
        const PictureHolder *holder = m_table ? &(*m_table)[size_t(k)] : nullptr;
        if (holder && holder->hasReadablePicture())
            images[size_t(k)]->copyFrom(*holder);
        else
            images[size_t(k)]->setPicture({}); // an empty cell
    }
}

void TFormTable::setChoice(int kind)
{
    for (int k = 0; k < KindCount; ++k)
        rbs[size_t(k)]->setChecked(k == kind);
}

int TFormTable::choice() const
{
    for (int k = KindCount - 1; k >= 0; --k) {
        if (rbs[size_t(k)]->isChecked())
            return k;
    }
    return -1;
}

QColor TFormTable::panelColor(int k) const
{
    return pans[size_t(k)]->palette().color(QPalette::Window);
}

void TFormTable::setPanelColor(int k, const QColor &color)
{
    // The kind number stays readable on the dark colours.
    const QColor text = color == palette().color(QPalette::Highlight)
        ? palette().color(QPalette::HighlightedText)
        : color.lightness() < 128 ? QColor(Qt::white)
                                  : palette().color(QPalette::WindowText);
    QPalette p = pans[size_t(k)]->palette();
    p.setColor(QPalette::Window, color);
    p.setColor(QPalette::WindowText, text);
    pans[size_t(k)]->setPalette(p);
}

void TFormTable::RadioButton1Click(int s)
{
    for (int k = 0; k < KindCount; ++k) {
        if (k == s) {
            rbs[size_t(k)]->setChecked(true);
            setPanelColor(k, palette().color(QPalette::Highlight));
        } else {
            rbs[size_t(k)]->setChecked(false);
            setPanelColor(k, palette().color(QPalette::Button));
        }
    }
}

// A click on a cell's panel chooses the kind as its radio button does.
void TFormTable::Panel2Click(int s)
{
    RadioButton1Click(s);
}

void TFormTable::Image1Click(int s)
{
    for (int k = 0; k < KindCount; ++k) {
        if (k == s) {
            // Checking a button that was unchecked runs RadioButton1Click here,
            // in the middle of the loop: it repaints every panel.
            rbs[size_t(k)]->setChecked(true);
            setPanelColor(k, maroon());
        } else {
            rbs[size_t(k)]->setChecked(false);
            setPanelColor(k, palette().color(QPalette::Highlight));
        }
    }
}

void TFormTable::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        ButtonGroup1Items1Click();
        break;
    case Qt::Key_Escape:
        ButtonGroup1Items0Click();
        break;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TFormTable::ButtonGroup1Items0Click()
{
    reject();
}

void TFormTable::ButtonGroup1Items1Click()
{
    accept();
}

bool TFormTable::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto button = std::find(rbs.begin(), rbs.end(), watched);
        const auto *e = static_cast<QKeyEvent *>(event);
        const int next = button != rbs.end() && e->modifiers() == Qt::NoModifier
            ? kindGridStep(int(button - rbs.begin()), e->key())
            : -1;
        if (next >= 0) {
            QRadioButton *target = rbs[size_t(next)];
            target->setFocus(Qt::TabFocusReason);
            target->click(); // as a click on it chooses
            return true;
        }
    }
    const auto it = std::find(pans.begin(), pans.end(), watched);
    if (it == pans.end())
        return QDialog::eventFilter(watched, event);
    const int k = int(it - pans.begin());
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *e = static_cast<QMouseEvent *>(event);
        m_pressedPanel = e->button() == Qt::LeftButton ? k : -1;
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto *e = static_cast<QMouseEvent *>(event);
        const bool click = m_pressedPanel == k && e->button() == Qt::LeftButton
            && (*it)->rect().contains(e->position().toPoint());
        m_pressedPanel = -1;
        if (click)
            Panel2Click(k);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kalvora
