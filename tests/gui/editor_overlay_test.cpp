// "Instrument points" in the editor: the toggle, the drawing after edits and device changes,
// the status text, stale runs, a responsive window while a long document is sampled, the card.
#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "daq/DaqMxDevice.h"
#include "devices/MainThread.h"
#include "devices/ModelTables.h"
#include "editor/GraphForm.h"
#include "editor/InstrumentOverlay.h"
#include "editor_fakes.h"
#include "interfaces/InterfaceDevices.h"
#include "model/Builder.h"
#include "playback/InstrumentPreview.h"
#include "plot/Plot.h"

using namespace ondrevo;

class EditorOverlayTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<TGraphForm> form_;
  std::map<QString, bool> flags_;

  TGraphForm* Make() {
    TGraphFormSettings s;
    s.SettingsFolder = dir_.path();
    s.LoadViewFlag = [this](const QString& key, bool fallback) {
      auto it = flags_.find(key);
      return it == flags_.end() ? fallback : it->second;
    };
    s.StoreViewFlag = [this](const QString& key, bool on) { flags_[key] = on; };
    form_ = std::make_unique<TGraphForm>(s);
    form_->SetDialogs(std::make_shared<TScriptedDialogs>());
    form_->show();
    return form_.get();
  }
  TInstrumentOverlay* Overlay() { return form_->Overlay(); }
  QAction* Toggle() { return form_->findChild<QAction*>("actInstrumentPoints"); }
  QLabel* Panel() { return form_->findChild<QLabel*>("InstrumentPanel"); }
  TPlotSeries* Series(const char* name) { return form_->Plot()->Series(name); }
  void SetCurves(const SegmentTable& u, const SegmentTable& i) {
    form_->SwitchQuantity(Quantity::Current);
    form_->SetActiveCurve(i);
    form_->SwitchQuantity(Quantity::Voltage);
    form_->SetActiveCurve(u);
  }
  // Waits until the result of the newest request is on screen.
  bool WaitShown(int ms = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (Overlay()->Delivered() != Overlay()->Requested()) {
      if (clock.elapsed() > ms) return false;
      QTest::qWait(5);
    }
    return true;
  }
  static SupplyListSettings Model7341() { return ListSettingsForModel("KSV 7341-20"); }

 private slots:
  void initTestCase() {
    // One simulated card whose highest rate this computer outpaces.
    qputenv("ONDREVO_DAQMX_SIM_CARDS", "Dev1 PCIe-6361 serial=1 ao=2 maxrate=5000");
  }
  void init() { QFile::remove(dir_.filePath("Ondrevo.cfg")); }
  void cleanup() {
    form_.reset();
    flags_.clear();
  }

  void toggleDrawsTheUploadedListAndIsKept() {
    Make();
    auto* view = form_->menuBar()->findChild<QMenu*>("mnuView");
    QVERIFY(view->actions().contains(Toggle()));
    QVERIFY(Toggle()->isCheckable() && !Toggle()->isChecked());
    const SegmentTable u = Ramp({{0, 0}, {2, 10}, {5, 10}, {5, 4}, {10, 4}});
    const SegmentTable i = Ramp({{0, 1}, {10, 1}});
    SetCurves(u, i);
    QVERIFY(!Series("U_Points")->Visible() && !Panel()->isVisible());
    QVERIFY(!Overlay()->Worker().Latest());  // nothing computed while off

    Toggle()->trigger();
    QVERIFY(WaitShown());
    QCOMPARE(flags_[QStringLiteral("InstrumentPoints")], true);
    QVERIFY(Series("U_Points")->Visible() && Series("I_Points")->Visible());
    QVERIFY(Panel()->isVisible());
    // Point for point what the driver of the selected model uploads.
    const InstrumentPreview expected = ComputeInstrumentPreview(u, i, Model7341());
    const auto shown = Overlay()->Shown();
    QVERIFY(shown);
    QCOMPARE(shown->Durations, expected.Durations);
    QCOMPARE(shown->Values, expected.Values);
    const auto& points = Series("U_Points")->Points();
    QCOMPARE(points.size(), 2 * expected.Durations.size());
    for (std::size_t k = 0; k < expected.Durations.size(); ++k) {
      QCOMPARE(points[2 * k].y(), expected.Values[0][k]);
      QCOMPARE(points[2 * k + 1].x() - points[2 * k].x(), expected.Durations[k]);
    }
    QCOMPARE(Series("I_Points")->Points().front().y(), 1.0);
    // Lighter and dashed, on the curves' axes.
    QCOMPARE(Series("U_Points")->LineStyle(), PlotLineStyle::DashDot);
    QCOMPARE(Series("U_Points")->Axis(), PlotAxis::Left);
    QCOMPARE(Series("I_Points")->Axis(), PlotAxis::Right);

    Toggle()->trigger();
    QVERIFY(!Series("U_Points")->Visible() && !Panel()->isVisible());
    QCOMPARE(Series("U_Points")->Count(), 0);
    QCOMPARE(flags_[QStringLiteral("InstrumentPoints")], false);

    // The next window starts as the last one was left.
    flags_[QStringLiteral("InstrumentPoints")] = true;
    Make();
    QVERIFY(Toggle()->isChecked() && Panel()->isVisible());
  }

  void editsAndDeviceChangesRefreshIt() {
    Make();
    Toggle()->trigger();
    SetCurves(Ramp({{0, 0}, {4, 8}}), Ramp({{0, 2}, {4, 2}}));
    QVERIFY(WaitShown());
    const std::uint64_t first = Overlay()->Delivered();
    QVERIFY2(Overlay()->Shown(),
             qPrintable(Overlay()->StatusText() +
                        QString(" %1 %2 %3 %4")
                            .arg(Overlay()->Requested())
                            .arg(Overlay()->Delivered())
                            .arg(form_->Core().Curve(Quantity::Voltage).LastPointIndex())
                            .arg(form_->Core().Curve(Quantity::Current).LastPointIndex())));
    QVERIFY(Overlay()->Shown()->PointCount() > 1);

    // A committed edit: a held level plays as one point.
    form_->SetActiveCurve(Ramp({{0, 3}, {4, 3}}));
    QVERIFY(WaitShown());
    QVERIFY(Overlay()->Delivered() > first);
    QCOMPARE(Overlay()->Shown()->Values[0], TDoubleVector{3.0});
    QCOMPARE(Series("U_Points")->Points().front().y(), 3.0);

    // Another model: its table limits and budget.
    const std::uint64_t before = Overlay()->Delivered();
    form_->SelectDevice(13, 2);  // KSV 6141-60, family B
    QVERIFY(WaitShown());
    QVERIFY(Overlay()->Delivered() > before);
    const SupplyListSettings b = ListSettingsForModel("KSV 6141-60");
    QCOMPARE(Overlay()->Shown()->Settings.MaxPoints, b.MaxPoints);
    QCOMPARE(Overlay()->Shown()->Settings.VoltageResolution, b.VoltageResolution);
    QVERIFY(Overlay()->StatusText().startsWith(QStringLiteral("1 of 255 points")));
  }

  void statusTextNamesClippingAndTheMissingCurrent() {
    Make();
    Toggle()->trigger();
    SetCurves(Ramp({{0, 5}, {10, 5}}), {});
    QVERIFY(WaitShown());
    QCOMPARE(Overlay()->StatusText(),
             QString::fromUtf8("1 of 1000 points \u00b7 max deviation 0 V at 0 s \u00b7 no current "
                               "curve: limit 40 A"));

    // 25 V on a 20 V supply: played at 20 V, and said so.
    SetCurves(Ramp({{0, 5}, {2, 25}, {4, 25}, {4, 5}, {6, 5}}), Ramp({{0, 1}, {6, 1}}));
    QVERIFY(WaitShown());
    const QString text = Overlay()->StatusText();
    QVERIFY2(text.contains(QStringLiteral(" of 1000 points")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("20")), qPrintable(text));
    const std::vector<std::string> clipping = SilentChangeFindings(*Overlay()->Shown());
    QCOMPARE(clipping.size(), std::size_t(1));
    QVERIFY2(text.endsWith(QString::fromStdString(clipping[0])), qPrintable(text));
    QVERIFY(Overlay()->Findings().contains(QString::fromStdString(clipping[0])));
    QVERIFY(!text.contains(QStringLiteral("no current curve")));
    for (const QPointF& p : Series("U_Points")->Points()) QVERIFY(p.y() <= 20.0);
  }

  void staleRunGivesWayAndTheWindowStaysResponsive() {
    Make();
    Toggle()->trigger();
    // Twenty hours of a 50 Hz sine: the sampler walks its whole grid, long enough to be seen
    // running even on a fast machine.
    SegmentTable u = Ramp({{0, 5}, {72000, 15}});
    u[0].Sup1.Kind = SuperpositionKind::Sine;
    u[0].Sup1.FreqStart = u[0].Sup1.FreqEnd = 50;
    u[0].Sup1.AmpStart = u[0].Sup1.AmpEnd = 2;
    form_->SwitchQuantity(Quantity::Current);
    form_->SetActiveCurve(Ramp({{0, 1}, {36000, 1}}));
    form_->SwitchQuantity(Quantity::Voltage);

    int ticks = 0;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer timer;
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, [&] {
      if (ticks > 0) longestGap = std::max(longestGap, sinceTick.elapsed());
      sinceTick.restart();
      ++ticks;
    });
    sinceTick.start();
    timer.start();
    QElapsedTimer clock;
    clock.start();
    form_->SetActiveCurve(u);  // returns at once: the sampling runs aside
    QVERIFY(clock.elapsed() < 500);
    const std::uint64_t longRun = Overlay()->Requested();
    QVERIFY(WaitShown(120000));
    timer.stop();
    const qint64 sampling = clock.elapsed();
    QVERIFY2(sampling > 100, "too fast to show anything");
    QVERIFY(Overlay()->Shown()->PointCount() > 100);
    // The timer kept firing all along (10 ms asked; a loaded machine may stretch a few).
    QVERIFY2(ticks >= sampling / 40, qPrintable(QString("%1 in %2 ms").arg(ticks).arg(sampling)));
    QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));

    // Again, but a newer edit comes while the long run is under way: the run is cancelled and
    // only the newer result is shown.
    // Runs cancelled so far (a newer request may have overtaken the set-up's) do not count.
    const std::uint64_t cancelledBefore = Overlay()->Worker().CancelledRuns();
    u[0].Sup1.AmpStart = u[0].Sup1.AmpEnd = 3;
    form_->SetActiveCurve(u);
    const std::uint64_t stale = Overlay()->Requested();
    QTest::qWait(sampling / 4);
    QVERIFY(Overlay()->Delivered() < stale);
    form_->SetActiveCurve(Ramp({{0, 7}, {36000, 7}}));
    QVERIFY(WaitShown(10000));
    QVERIFY(Overlay()->Delivered() > stale && stale > longRun);
    QCOMPARE(Overlay()->Worker().CancelledRuns() - cancelledBefore, std::uint64_t(1));
    // A held level in points of at most 100 s.
    const TDoubleVector sevens(360, 7.0);
    QCOMPARE(Overlay()->Shown()->Values[0], sevens);
    QTest::qWait(100);  // nothing stale arrives later
    QCOMPARE(Overlay()->Shown()->Values[0], sevens);
  }

  // The card's grid at the rate its engine chooses: here the simulated card's highest rate,
  // which this computer outpaces.
  void cardShowsTheStreamedGrid() {
    qputenv("ONDREVO_DAQMX_LIBRARY", ONDREVO_DAQMX_SIM);
    Make();
    Toggle()->trigger();
    SetCurves(Ramp({{0, 0}, {10, 10}}), Ramp({{0, 2}, {10, 2}}));
    QVERIFY(WaitShown());
    form_->ToggleDaq();
    QVERIFY(WaitShown());
    QVERIFY(!Overlay()->Shown());
    QCOMPARE(Overlay()->StatusText(),
             QStringLiteral("Analog output card Dev1: 50000 samples at 5000 samples/s "
                            "(the card's highest rate)"));
    QCOMPARE(Overlay()->DaqRate(), 5000.0);
    const auto& points = Series("U_Points")->Points();
    QCOMPARE(points.size(), std::size_t(100000));
    // Sample k at k / rate, held one interval: the ramp's value there.
    for (std::size_t k : {std::size_t(0), std::size_t(1), std::size_t(12345), std::size_t(49999)}) {
      QCOMPARE(points[2 * k].x(), k / 5000.0);
      QVERIFY(std::abs(points[2 * k].y() - k / 5000.0) < 1e-6);
      QVERIFY(std::abs(points[2 * k + 1].x() - points[2 * k].x() - 2e-4) < 1e-9);
    }
    // A long stream shows every n-th of its samples, never more than the limit.
    form_->SetActiveCurve(Ramp({{0, 0}, {3600, 10}}));
    QVERIFY(WaitShown());
    QCOMPARE(Overlay()->StatusText(),
             QStringLiteral("Analog output card Dev1: 18000000 samples at 5000 samples/s "
                            "(the card's highest rate) \u00b7 one sample in 180 drawn"));
    QCOMPARE(Series("U_Points")->Points().size(), std::size_t(2 * kMaxDaqGridSamples));
    QCOMPARE(Series("U_Points")->Points()[2].x(), 180 / 5000.0);
    form_->ToggleDaq();
    QVERIFY(WaitShown());
    QVERIFY(Overlay()->Shown());
  }

  // What the overlay shows is what the engine streams at, for the same document and card.
  void cardRateIsTheEnginesRate() {
    qputenv("ONDREVO_DAQMX_LIBRARY", ONDREVO_DAQMX_SIM);
    Make();
    Toggle()->trigger();
    const SegmentTable u = Ramp({{0, 1}, {0.5, 4}});
    SetCurves(u, Ramp({{0, 1}, {0.5, 1}}));
    form_->ToggleDaq();
    QVERIFY(WaitShown());
    QVERIFY(Overlay()->DaqRate() > 0);

    TEventQueue queue;
    queue.Install();
    auto card = std::make_shared<TDaqMxDevice>("PCIe-6361", "Dev1", "1");
    auto input = std::make_shared<TAnalogDevice>("KSV 3720-10", "7");
    card->GetConnectedInputs()[0] = input;
    input->GetConnectedOutputs()[0] = std::static_pointer_cast<IAnalogOutput>(card);
    bool uploaded = false, disconnected = false;
    card->SetOnUploadDone([&](IDevice*) { uploaded = true; });
    card->SetOnDisconnect([&](IDevice*) { disconnected = true; });
    card->Connect();
    card->Upload(BuildWaveform(u), BuildWaveform(Ramp({{0, 1}, {0.5, 1}})), false);
    std::weak_ptr<TDaqExecuteThread> stream = card->GetExecuteThread();
    QVERIFY(queue.PumpUntil([&] { return uploaded; }, std::chrono::seconds(20)));
    const double engine = card->GetExecuteThread()->Rate();
    card->Disconnect();
    QVERIFY(queue.PumpUntil([&] { return disconnected; }, std::chrono::seconds(10)));
    card.reset();
    if (auto t = stream.lock())
      QVERIFY(queue.PumpUntil([&] { return t->Ended(); }, std::chrono::seconds(10)));
    QCOMPARE(Overlay()->DaqRate(), engine);
  }

  // Without the library there is no card: the computing speed alone sets the rate, and the
  // status says so.
  void noCardSaysSo() {
    qputenv("ONDREVO_DAQMX_LIBRARY", "/nonexistent/libnidaqmx.so.1");
    Make();
    Toggle()->trigger();
    SetCurves(Ramp({{0, 0}, {10, 10}}), Ramp({{0, 2}, {10, 2}}));
    form_->ToggleDaq();
    QVERIFY(WaitShown());
    QVERIFY2(Overlay()->StatusText().startsWith(QStringLiteral("No analog output card found: ")),
             qPrintable(Overlay()->StatusText()));
    QVERIFY(Overlay()->StatusText().contains(
        QStringLiteral("(half the computing speed of this computer)")));
    QVERIFY(Overlay()->DaqRate() > 0);
    QVERIFY(Series("U_Points")->Points().size() <= std::size_t(2 * kMaxDaqGridSamples));
    qputenv("ONDREVO_DAQMX_LIBRARY", ONDREVO_DAQMX_SIM);
  }
};

QTEST_MAIN(EditorOverlayTest)
#include "editor_overlay_test.moc"
