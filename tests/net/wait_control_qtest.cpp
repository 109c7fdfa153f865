// The countdown control: ticks, time-out, early stop and the 15-second default.
#include <QLineEdit>
#include <QtTest>

#include "net/widgets/wait_control.h"

using qm::net::TWait;

class WaitControlTest : public QObject {
  Q_OBJECT

 private slots:
  void CountsDownToTimeoutAndRestoresCaption() {
    TWait wait;
    wait.SetInterval(5);
    wait.SetCaption("6");
    QList<int> counts;
    int timeouts = 0;
    wait.OnWait = [&](TWait&, int count) { counts << count; };
    wait.OnTimeout = [&](TWait&) { ++timeouts; };
    wait.ModalWait();
    QCOMPARE(counts, QList<int>({5, 4, 3, 2, 1, 0}));
    QCOMPARE(timeouts, 1);
    QCOMPARE(wait.ModalResult(), int(TWait::kTimedOut));
    QCOMPARE(wait.Caption(), QStringLiteral("6"));
    QVERIFY(!wait.Running());
  }

  void StopEndsTheWaitEarly() {
    TWait wait;
    wait.SetInterval(5);
    int passes = 0;
    const bool stopped = wait.RunModal(60, [&] {
      if (++passes == 3) wait.Stop();
    });
    QVERIFY(stopped);
    QCOMPARE(wait.ModalResult(), int(TWait::kStopped));
    QCOMPARE(wait.Caption(), QStringLiteral("60"));
    QVERIFY(!wait.isVisible());
  }

  void CaptionWithoutNumberCountsFifteen() {
    TWait wait;
    wait.SetCaption("");
    int started = 0;
    wait.OnWaitStart = [&](TWait&) { ++started; };
    wait.Start();
    QCOMPARE(wait.Caption(), QStringLiteral("15"));
    QCOMPARE(started, 1);
    QVERIFY(wait.Running());
    wait.Stop();
    QCOMPARE(wait.Caption(), QStringLiteral("15"));
  }

  void KeyPressesAreSwallowedWhileWaiting() {
    TWait wait;
    wait.SetInterval(20);
    wait.SetCaption("3");
    QLineEdit edit;
    edit.show();
    wait.OnWaiting = [&](TWait&) { QTest::keyClick(&edit, Qt::Key_A); };
    wait.ModalWait();
    QCOMPARE(edit.text(), QString());
    QTest::keyClick(&edit, Qt::Key_A);  // the filter is gone afterwards
    QCOMPARE(edit.text(), QStringLiteral("a"));
  }
};

QTEST_MAIN(WaitControlTest)
#include "wait_control_qtest.moc"
