// The bed menu's commands on the bed under the pointer: editing a bed in the
// bed dialog, and deleting it after a question.

#include "ConsoleFixture.h"
#include "NetworkGuard.h"
#include "app/TkrdoMF.h"
#include "editing/FormTable.h"
#include "plan/Ttable.h"
#include "ui/Errors.h"
#include "ui/PictureControl.h"
#include "ui/TextLabel.h"

#include <QAction>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace kalvora;
using kalvora::test::ConsoleFixture;

namespace {

// A point on a bed's icon above its name label, which covers the icon's middle.
const QPoint kIconTop(18, 4);

} // namespace

class TestTableEdit : public QObject {
    Q_OBJECT

    std::unique_ptr<ConsoleFixture> m_fixture;
    std::unique_ptr<TFormTable> m_form;
    TkrdoMF *w = nullptr;
    QList<BoxRecord> m_boxes;
    bool m_answer = true;

    void startConsole()
    {
        if (!m_fixture) {
            m_fixture = std::make_unique<ConsoleFixture>();
            m_fixture->writeSettings();
        }
        w = &m_fixture->start();
        QVERIFY(w->isinit);
        w->TimerPlus->stop(); // the tests tick by hand
        m_form = std::make_unique<TFormTable>(&w->iTable);
        w->setFormTable(m_form.get());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // Moves to where the pointer already is are dropped: start elsewhere.
        QTest::mouseMove(w->windowHandle(), QPoint(790, 790));
    }

    Ttable *bed(const char *code) const { return w->sl.find(QString::fromLatin1(code)); }

    void pointAt(Ttable *b) { QTest::mouseMove(w->windowHandle(), b->iT->mapTo(w, kIconTop)); }
    void clickOn(Ttable *b)
    {
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, b->iT->mapTo(w, kIconTop));
    }
    void pointAtPlan() { QTest::mouseMove(w->windowHandle(), QPoint(650, 420)); }

    // Runs the edit command of the bed menu; `inDialog` runs while the dialog
    // is open and closes it (a failed check leaves it to be cancelled here).
    void edit(const std::function<void()> &inDialog)
    {
        bool ran = false;
        QTimer::singleShot(0, m_form.get(), [&] {
            ran = true;
            inDialog();
            if (m_form->isVisible())
                m_form->reject();
        });
        w->N1->trigger();
        QVERIFY(ran);
        QVERIFY(!m_form->isVisible());
    }

    // What a bed shows, for comparing before and after.
    static QStringList look(const Ttable *b)
    {
        const auto picture = quintptr(b->iT->holder().picture().get());
        return { b->code,
                 b->l,
                 QString::number(b->imagenumber),
                 b->lab->text(),
                 b->iT->toolTip(),
                 QString::number(picture) };
    }

private slots:
    void initTestCase()
    {
        KALVORA_REQUIRE_PRIVATE_NETWORK();
        setBoxObserver([this](const BoxRecord &box) {
            m_boxes.append(box);
            return m_answer;
        });
    }
    void init()
    {
        m_boxes.clear();
        m_answer = true;
    }
    void cleanup()
    {
        w = nullptr;
        m_fixture.reset();
        m_form.reset();
    }

    void editCommand_showsBedsCodeNameAndKind()
    {
        startConsole();
        Ttable *b = bed("103");
        pointAt(b);
        edit([&] {
            QVERIFY(m_form->isModal());
            QCOMPARE(m_form->eCode->text(), QStringLiteral("103"));
            QCOMPARE(m_form->eL->text(), QStringLiteral("Палата 1, койка 3"));
            QVERIFY(m_form->rbs[7]->isChecked());
            QCOMPARE(m_form->choice(), 7);
            QTest::mouseClick(m_form->ButtonCancel, Qt::LeftButton);
        });
    }

    void bedCommands_withoutBed_doNothing()
    {
        startConsole();
        pointAtPlan();
        QCOMPARE(w->curTable, nullptr);
        bool opened = false;
        QTimer::singleShot(0, m_form.get(), [&] {
            opened = m_form->isVisible();
            m_form->reject();
        });
        w->N1->trigger();
        w->N2->trigger();
        QTRY_VERIFY(!m_form->isVisible());
        QVERIFY(!opened);
        QVERIFY(m_boxes.isEmpty()); // no question asked
        QCOMPARE(w->sl.size(), 24);
    }

    void okButton_appliesNameCodeAndKindAtOnce_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("idle bed") << "idle";
        QTest::newRow("calling bed") << "calling";
        QTest::newRow("bed being moved") << "moved";
    }
    void okButton_appliesNameCodeAndKindAtOnce()
    {
        QFETCH(QString, state);
        startConsole();
        Ttable *b = bed("101");
        if (state == u"calling")
            w->AddSinc(QStringLiteral("#101;8;Nurse;Bed 1"));
        pointAt(b);
        if (state == u"moved") {
            w->nm1Click();
            clickOn(b);
            QVERIFY(b->isDrag);
        }
        edit([&] {
            // Typed ";" never reaches the fields: the bed file separates with it.
            m_form->eL->clear();
            QTest::keyClicks(m_form->eL, QStringLiteral("Iso;lation"));
            m_form->eCode->clear();
            QTest::keyClicks(m_form->eCode, QStringLiteral("9;01;"));
            QTest::mouseClick(m_form->rbs[12], Qt::LeftButton);
            QTest::mouseClick(m_form->ButtonOk, Qt::LeftButton);
        });
        QCOMPARE(m_form->result(), int(QDialog::Accepted));
        QCOMPARE(b->l, QStringLiteral("Isolation"));
        QCOMPARE(b->code, QStringLiteral("901"));
        QCOMPARE(b->imagenumber, 12);
        QCOMPARE(b->lab->text(), QStringLiteral("Isolation"));
        QCOMPARE(b->lab->pos(), QPoint(b->dx - b->lab->width() / 2, b->dy - b->lab->height() / 2));
        const KindPictures &shown = state == u"calling" ? w->iGreenTable : w->iTable;
        QCOMPARE(b->iT->holder().picture(), shown[12].picture());
        // The hint keeps the name the bed was created with; it is off while
        // the bed is being moved and back once it is put down.
        const QString created = QStringLiteral("Палата 1, койка 1");
        QCOMPARE(b->iT->toolTip(), state == u"moved" ? QString() : created);
        if (state == u"moved") {
            clickOn(b);
            QCOMPARE(b->iT->toolTip(), created);
        }
    }

    void cancelOrClose_leavesBedUnchanged_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("cancel button") << false;
        QTest::newRow("title-bar close") << true;
    }
    void cancelOrClose_leavesBedUnchanged()
    {
        QFETCH(bool, closeBox);
        startConsole();
        Ttable *b = bed("101");
        w->AddSinc(QStringLiteral("#101;8;Nurse;Bed 1"));
        const QStringList before = look(b);
        pointAt(b);
        edit([&] {
            m_form->eL->setText(QStringLiteral("Other"));
            m_form->eCode->setText(QStringLiteral("999"));
            QTest::mouseClick(m_form->rbs[12], Qt::LeftButton);
            if (closeBox)
                m_form->close();
            else
                QTest::mouseClick(m_form->ButtonCancel, Qt::LeftButton);
        });
        QCOMPARE(m_form->result(), int(QDialog::Rejected));
        QCOMPARE(look(b), before);
    }

    void eventsAndTicks_goOnWhileDialogIsOpen_dialogNameWins()
    {
        startConsole();
        Ttable *b = bed("101");
        pointAt(b);
        w->TimerPlus->start(20);
        edit([&] {
            w->AddSinc(QStringLiteral("#101;8;Nurse;Event name"));
            w->AddSinc(QStringLiteral("#102;8;Nurse;Bed 2"));
            QVERIFY(b->isOn);
            QCOMPARE(b->lab->text(), QStringLiteral("Event name"));
            QCOMPARE(b->iT->toolTip(), QStringLiteral("Палата 1, койка 1")); // as created
            QTRY_VERIFY(b->curT >= 3); // ticks arrive while the dialog waits
            QCOMPARE(w->sinc.size(), 2);
            QVERIFY(w->sinc.at(0)->lastN > 0);
            QTest::mouseClick(m_form->ButtonOk, Qt::LeftButton);
        });
        w->TimerPlus->stop();
        QCOMPARE(b->l, QStringLiteral("Палата 1, койка 1"));
        QCOMPARE(b->lab->text(), b->l);
        QVERIFY(b->isOn);
        QCOMPARE(b->iT->holder().picture(), w->iGreenTable[size_t(b->imagenumber)].picture());
    }

    void changedCode_reachesBedOnlyAfterRestart()
    {
        startConsole();
        Ttable *b = bed("101");
        pointAt(b);
        edit([&] {
            m_form->eCode->setText(QStringLiteral("901"));
            m_form->ButtonGroup1Items1Click();
        });
        QCOMPARE(b->code, QStringLiteral("901"));
        w->AddSinc(QStringLiteral("#901;8;Nurse;New code"));
        QVERIFY(!b->isOn);
        QVERIFY(w->sinc.isEmpty());
        w->AddSinc(QStringLiteral("#101;8;Nurse;Old code"));
        QVERIFY(b->isOn);
        QCOMPARE(w->sinc.size(), 1);

        QVERIFY(w->close());
        m_fixture->destroy();
        startConsole();
        QCOMPARE(w->sl.size(), 24);
        QVERIFY(!bed("101"));
        b = bed("901");
        QVERIFY(b);
        QCOMPARE(QPoint(b->dx, b->dy), QPoint(307, 110));
        w->AddSinc(QStringLiteral("#101;8;Nurse;Old code"));
        QVERIFY(!b->isOn);
        w->AddSinc(QStringLiteral("#901;8;Nurse;New code"));
        QVERIFY(b->isOn);

        pointAt(b);
        w->N2->trigger();
        QVERIFY(!bed("901"));
        QVERIFY(w->sinc.isEmpty());
    }

    void deleteCommand_asksThenRemovesBedAndItsCallAtOnce_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void deleteCommand_asksThenRemovesBedAndItsCallAtOnce()
    {
        QFETCH(bool, answer);
        startConsole();
        Ttable *b = bed("101");
        w->AddSinc(QStringLiteral("#101;4;Nurse;Bed 1"));
        w->AddSinc(QStringLiteral("#102;8;Nurse;Bed 2"));
        w->TimerPlusTimer(); // the call lines are on show
        const QPointer<QWidget> line = w->sinc.at(0)->l1;
        QVERIFY(line);
        const std::vector<Marker *> before = w->planLayer()->markers();
        pointAt(b);
        // A tick due in less than 0.6 s.
        w->TimerPlus->start();
        QTRY_VERIFY(w->TimerPlus->remainingTime() < 600);

        m_answer = answer;
        w->N2->trigger();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.at(0).caption, QStringLiteral("?"));
        QCOMPARE(m_boxes.at(0).text, QStringLiteral("Действительно удалить эту койку?"));
        QCOMPARE(w->sl.size(), answer ? 23 : 24);
        QCOMPARE(bed("101"), answer ? nullptr : b);
        // The marker (icon, overlay, label) and the call line are gone with it.
        const std::vector<Marker *> &after = w->planLayer()->markers();
        QCOMPARE(after.size(), before.size() - (answer ? 1 : 0));
        QCOMPARE(std::find(after.begin(), after.end(), before[0]) == after.end(), answer);
        QCOMPARE(line.isNull(), answer);
        QCOMPARE(w->sinc.size(), answer ? 1 : 2); // at once, not at the next tick
        QCOMPARE(w->sinc.keyAt(0), answer ? QStringLiteral("102") : QStringLiteral("101"));
        QCOMPARE(w->curTable, answer ? nullptr : b);
        // The tick keeps its rhythm through a deletion: still due as before.
        QVERIFY(w->TimerPlus->isActive());
        QVERIFY(w->TimerPlus->remainingTime() < 600);
        w->TimerPlus->stop();
        w->TimerPlusTimer();
        QCOMPARE(w->sinc.size(), answer ? 1 : 2);
    }
};

QTEST_MAIN(TestTableEdit)
#include "tst_tableedit.moc"
