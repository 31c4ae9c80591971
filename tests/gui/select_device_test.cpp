// The device selection dialog, used as the remote window shows it while connecting a card output.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "interfaces/InterfaceDevices.h"
#include "model/Builder.h"
#include "remote/SelectDeviceForm.h"
#include "remote_fakes.h"

using namespace ondrevo;
using namespace ondrevo::test;

namespace {

std::shared_ptr<TWaveform> Curve(double from, double to) {
  SegmentTable t;
  t[0].Value = from;
  t[1].Time = 1;
  t[1].Value = to;
  t.SetLastPointIndex(1);
  return BuildWaveform(t);
}

// A supply taking a control voltage on two inputs.
class TTwoInputDevice : public TDevice, public IAnalogInput {
 public:
  TTwoInputDevice() : TDevice("KSV 5205-40", "9") {
    MaxVoltage = 40;
    MaxCurrent = 20;
    Unsupported = false;
  }
  void SetCurrentInput(bool, int32_t) override {}
  TAnalogOutputArray& GetConnectedOutputs() override { return outputs_; }
  bool IsCurrentInput(int32_t) const override { return false; }

 private:
  TAnalogOutputArray outputs_{2};
};

}  // namespace

class SelectDeviceTest : public QObject {
  Q_OBJECT
  TScriptedDialogs dialogs_;

  TDeviceSelection Selection(TAnalogInputArray candidates) {
    TDeviceSelection s;
    s.DeviceText = "PCIe-6361";
    s.OutputText = "Analog Out 1";
    s.Candidates = std::move(candidates);
    s.VoltageWaveform = Curve(0, 5);
    s.CurrentWaveform = Curve(1, 1);
    return s;
  }
  static QStringList Items(TSelectDeviceForm& form) {
    QStringList out;
    auto* combo = form.findChild<QComboBox*>("DeviceComboBox");
    for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
    return out;
  }

 private slots:
  void init() {
    dialogs_.Asked.clear();
    dialogs_.Answers.clear();
  }

  void noCompatibleDeviceLeavesOnlyCancel() {
    auto s = Selection({});
    TSelectDeviceForm form(nullptr, s, dialogs_);
    form.show();
    QCOMPARE(form.findChild<QLabel*>("DeviceLabel")->text(), QString("PCIe-6361"));
    QCOMPARE(form.findChild<QLabel*>("ChannelLabel")->text(), QString("Analog Out 1"));
    QCOMPARE(Items(form), QStringList{"no compatible devices found"});
    auto* ok = form.findChild<QPushButton*>("ButtonOk");
    QVERIFY(!ok->isEnabled());
    QTest::keyClick(&form, Qt::Key_Return);  // the default button is disabled: nothing happens
    QVERIFY(form.isVisible());
    QTest::mouseClick(form.findChild<QPushButton*>("ButtonCancel"), Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Rejected));
    QVERIFY(!s.SelectedInput);
  }

  void everyInputIsAnEntryAndTheSecondGivesIndexOne() {
    auto two = std::make_shared<TTwoInputDevice>();
    auto analog = std::make_shared<TAnalogDevice>("KSV 3720-40", "5");
    auto ttl = std::make_shared<TTtlDevice>("KSV 4461-50", "6");
    auto s = Selection({analog, two, ttl});
    TSelectDeviceForm form(nullptr, s, dialogs_);
    form.show();
    QCOMPARE(Items(form), (QStringList{"KSV 3720-40, SN 5, Analog In",
                                       "KSV 5205-40, SN 9, Analog Voltage Control",
                                       "KSV 5205-40, SN 9, Analog Voltage Control",
                                       "KSV 4461-50, SN 6, TTL Control In"}));
    QCOMPARE(form.findChild<QComboBox*>("DeviceComboBox")->currentIndex(), 0);
    form.findChild<QComboBox*>("DeviceComboBox")->setCurrentIndex(2);
    QTest::mouseClick(form.findChild<QPushButton*>("ButtonOk"), Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QVERIFY2(dialogs_.Asked.isEmpty(), "within the limits: no question");
    QCOMPARE(s.SelectedInput, std::static_pointer_cast<IAnalogInput>(two));
    QCOMPARE(s.SelectedInputIndex, 1);
    QVERIFY(s.Candidates.empty());
  }

  void currentInputOfAnAnalogInterfaceIsCurrentControl() {
    auto analog = std::make_shared<TAnalogDevice>("KSV 3720-40", "5");
    analog->SetCurrentInput(true, 0);
    auto s = Selection({analog});
    TSelectDeviceForm form(nullptr, s, dialogs_);
    QCOMPARE(Items(form), QStringList{"KSV 3720-40, SN 5, Analog Current Control"});
  }

  void waveformOutsideTheLimitsAsksFirst() {
    auto small = std::make_shared<TAnalogDevice>("KSV 3720-6", "1");  // 6 V at most
    auto s = Selection({small});
    s.VoltageWaveform = Curve(0, 8);
    TSelectDeviceForm form(nullptr, s, dialogs_);
    form.show();
    auto* ok = form.findChild<QPushButton*>("ButtonOk");
    dialogs_.Answers = {QMessageBox::No};
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(dialogs_.Asked.size(), 1);
    QVERIFY(dialogs_.Asked[0].startsWith(
        "Warning|The waveform exceeds the device bounderies and will be clipped.\nConnect"));
    QVERIFY2(form.isVisible(), "No leaves it open for another choice");
    dialogs_.Answers = {QMessageBox::Yes};
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(s.SelectedInput, std::static_pointer_cast<IAnalogInput>(small));
    QCOMPARE(s.SelectedInputIndex, 0);
  }
};

QTEST_MAIN(SelectDeviceTest)
#include "select_device_test.moc"
