// The plot widget: fixed tick count, value labels, Ctrl-drag zoom with its veto, Alt-drag pan.
#include <QtTest>
#include <limits>
#include <random>

#include "plot/Plot.h"

using namespace ondrevo;

class PlotTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TPlot> Make() {
    auto plot = std::make_unique<TPlot>();
    plot->resize(600, 400);
    for (PlotAxis a : {PlotAxis::Left, PlotAxis::Right, PlotAxis::Bottom}) {
      plot->SetTickCount(a, 11);
      plot->SetNumberDecimals(a, 2);
    }
    plot->SetAxisRange(PlotAxis::Bottom, 0, 10);
    plot->SetAxisRange(PlotAxis::Left, 0, 22);
    plot->SetAxisRange(PlotAxis::Right, 0, 42);
    plot->show();
    plot->Replot();
    return plot;
  }
  QPoint At(TPlot& p, double t, double v) {
    return QPoint(qRound(p.ValueToPixel(PlotAxis::Bottom, t)),
                  qRound(p.ValueToPixel(PlotAxis::Left, v)));
  }

 private slots:
  void elevenTicksWithShortLabels() {
    auto p = Make();
    QCOMPARE(p->TickLabels(PlotAxis::Left), QStringList({"0", "2.2", "4.4", "6.6", "8.8", "11",
                                                         "13.2", "15.4", "17.6", "19.8", "22"}));
    p->SetAxisRange(PlotAxis::Right, 0, 1);
    QCOMPARE(p->TickLabels(PlotAxis::Right).at(3), QString("0.3"));
    p->SetBottomTickLabeler([](double t) { return QString("t%1").arg(t); });
    QCOMPARE(p->TickLabels(PlotAxis::Bottom).last(), QString("t10"));
  }

  void pixelConversionRoundTrips() {
    auto p = Make();
    const double px = p->ValueToPixel(PlotAxis::Bottom, 2.5);
    QVERIFY(qAbs(p->PixelToValue(PlotAxis::Bottom, px) - 2.5) < 1e-9);
    QVERIFY(p->ValueToPixel(PlotAxis::Left, 0) > p->ValueToPixel(PlotAxis::Left, 22));
  }

  void ctrlDragZoomsAndTheVetoRefuses() {
    auto p = Make();
    QList<PlotAxis> asked;
    p->BeforeZoom = [&](PlotAxis a, double& lo, double& hi) {
      asked << a;
      if (a == PlotAxis::Bottom && hi > 10) return false;
      if (a == PlotAxis::Bottom) lo = 1;  // the veto may also change the range
      return true;
    };
    QWidget* c = p->Canvas();
    QTest::mousePress(c, Qt::LeftButton, Qt::ControlModifier, At(*p, 2, 20));
    QTest::mouseMove(c, At(*p, 6, 10));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::ControlModifier, At(*p, 6, 10));
    QCOMPARE(asked.size(), 3);
    QCOMPARE(p->AxisMin(PlotAxis::Bottom), 1.0);
    QVERIFY(qAbs(p->AxisMax(PlotAxis::Bottom) - 6) < 0.1);
    QVERIFY(qAbs(p->AxisMin(PlotAxis::Left) - 10) < 0.2);
    // Beyond the time-axis maximum: nothing zooms, not even the value axes.
    const double leftMin = p->AxisMin(PlotAxis::Left);
    const QPoint far = At(*p, 12, 15);  // dragged out of the plot
    QTest::mousePress(c, Qt::LeftButton, Qt::ControlModifier, At(*p, 2, 19));
    QTest::mouseMove(c, far);
    QTest::mouseRelease(c, Qt::LeftButton, Qt::ControlModifier, far);
    QVERIFY(qAbs(p->AxisMax(PlotAxis::Bottom) - 6) < 0.1);
    QCOMPARE(p->AxisMin(PlotAxis::Left), leftMin);
  }

  void altDragPansWithTheHand() {
    auto p = Make();
    int presses = 0;
    connect(p.get(), &TPlot::plotMousePressed, this, [&] { ++presses; });
    QWidget* c = p->Canvas();
    QTest::mousePress(c, Qt::LeftButton, Qt::AltModifier, At(*p, 5, 10));
    QCOMPARE(c->cursor().shape(), Qt::ClosedHandCursor);
    QMouseEvent move(QEvent::MouseMove, At(*p, 4, 10), c->mapToGlobal(At(*p, 4, 10)),
                     Qt::LeftButton, Qt::LeftButton, Qt::AltModifier);
    QApplication::sendEvent(c, &move);
    QTest::mouseRelease(c, Qt::LeftButton, Qt::AltModifier, At(*p, 4, 10));
    QVERIFY(qAbs(p->AxisMin(PlotAxis::Bottom) - 1) < 0.05);
    QVERIFY(qAbs(p->AxisMax(PlotAxis::Bottom) - 11) < 0.05);
    QVERIFY(c->cursor().shape() != Qt::ClosedHandCursor);
    QCOMPARE(presses, 0);  // zoom and pan are not editing clicks
    QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, At(*p, 5, 10));
    QCOMPARE(presses, 1);
  }

  void seriesKeepsOrderAtVerticalSteps() {
    auto p = Make();
    TPlotSeries* s = p->AddSeries("U_Line", PlotAxis::Left);
    s->AddPoint(0, 1);
    s->AddPoint(1, 1);
    s->AddPoint(1, 5);
    s->AddPoint(2, 5);
    QCOMPARE(s->Count(), 4);
    QCOMPARE(s->Point(2), QPointF(1, 5));
    s->SetPoint(1, 1, 2);
    s->RemoveLast();
    QCOMPARE(s->Count(), 3);
    QCOMPARE(p->Series("U_Line"), s);
    s->SetAxis(PlotAxis::Right);
    QCOMPARE(s->Axis(), PlotAxis::Right);
  }

  void denseMarkersAreLeftOut() {
    auto p = Make();
    TPlotSeries* s = p->AddSeries("U_Line", PlotAxis::Left);
    s->SetMarker(PlotMarker::Rectangle);
    std::vector<QPointF> points;
    for (int i = 0; i <= 2000; ++i) points.emplace_back(i * 0.005, 1);
    s->SetPoints(points);
    p->Replot();
    QVERIFY(!s->MarkersDrawn());  // 2000 points on about 560 pixels
    p->SetAxisRange(PlotAxis::Bottom, 0, 0.25);
    p->Replot();
    QVERIFY(s->MarkersDrawn());  // zoomed in: 50 points
    s->SetMarkersVisible(false);
    QVERIFY(!s->MarkersDrawn());
  }

  // Handing over a series that differs in a few points changes those in place: what is drawn
  // is what a series given all its points at once draws, also where a changed point leaves key
  // order, equal keys form steps, the count changes or a value is not a number.
  void changedPointsDrawAsAFreshSeries() {
    auto edited = Make();
    auto fresh = Make();
    TPlotSeries* a = edited->AddSeries("U_Line", PlotAxis::Left);
    TPlotSeries* b = fresh->AddSeries("U_Line", PlotAxis::Left);
    for (TPlotSeries* s : {a, b}) s->SetMarker(PlotMarker::Rectangle);
    std::mt19937 rng(7);
    std::vector<QPointF> points;
    for (int i = 0; i <= 40; ++i) points.emplace_back(i * 0.25, 5 + i % 7);
    for (int step = 0; step < 60; ++step) {
      const std::size_t at = rng() % points.size();
      switch (rng() % 12) {
        case 0:  // a value
          points[at].setY(rng() % 20);
          break;
        case 1:  // a time within its neighbours, or onto one (a step)
          if (at > 0) points[at].setX(points[at - 1].x());
          break;
        case 2:  // a time out of order
          points[at].setX((rng() % 40) * 0.25);
          break;
        case 5:  // back in order
          std::stable_sort(points.begin(), points.end(),
                           [](const QPointF& p, const QPointF& q) { return p.x() < q.x(); });
          break;
        case 3:
          points[at].setY(std::numeric_limits<double>::quiet_NaN());
          break;
        case 4:
          points.emplace_back(points.back().x() + 0.25, rng() % 20);
          break;
        case 6:
        case 7:
        case 8:  // a few values at once
          for (std::size_t i = at; i < std::min(at + 3, points.size()); ++i)
            points[i].setY(rng() % 20);
          break;
        default:  // nothing changed
          break;
      }
      a->SetPoints(points);
      b->Clear();
      b->SetPoints(points);
      QCOMPARE(edited->Render(QSize(300, 200)), fresh->Render(QSize(300, 200)));
    }
  }
};

QTEST_MAIN(PlotTest)
#include "plot_test.moc"
