// The XY plot of the editor: a left, a right and a bottom axis, line series bound to the left or
// right axis, zoom to a Ctrl-dragged rectangle and panning with Alt. Callers never see the
// plotting library behind it.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace ondrevo {

enum class PlotAxis { Left, Right, Bottom };
enum class PlotLineStyle { Solid, DashDot };
enum class PlotMarker { None, Rectangle, Ellipse };  // Ellipse: 9 by 9 pixels

class TPlot;

// One line series; owned by its plot.
class TPlotSeries {
 public:
  const QString& Name() const { return name_; }
  PlotAxis Axis() const { return axis_; }
  void SetAxis(PlotAxis axis);  // Left or Right
  void SetColor(const QColor& color);
  QColor Color() const;
  void SetLineStyle(PlotLineStyle style);
  PlotLineStyle LineStyle() const { return style_; }
  void SetWidth(int width);
  void SetMarker(PlotMarker marker);
  PlotMarker Marker() const { return marker_; }
  void SetMarkersVisible(bool visible);
  bool MarkersVisible() const { return markersVisible_; }
  // Markers as last drawn: visible, and the points on screen far enough apart.
  bool MarkersDrawn() const { return markersVisible_ && !dense_ && marker_ != PlotMarker::None; }
  // Taking a series off the plot keeps its points.
  void SetVisible(bool visible);
  bool Visible() const;

  void Clear();
  void AddPoint(double x, double y);
  // Replaces every point at once (one hand-over to the library instead of one per point).
  void SetPoints(std::vector<QPointF> points);
  void SetPoint(int index, double x, double y);
  void RemoveLast();
  int Count() const { return static_cast<int>(points_.size()); }
  QPointF Point(int index) const { return points_.at(static_cast<std::size_t>(index)); }
  const std::vector<QPointF>& Points() const { return points_; }

 private:
  friend class TPlot;
  struct Impl;
  TPlotSeries(TPlot* plot, QString name, void* graph);
  void Push();
  void ApplyPen();

  TPlot* plot_;
  QString name_;
  void* graph_;  // the library's graph object
  PlotAxis axis_ = PlotAxis::Left;
  PlotLineStyle style_ = PlotLineStyle::Solid;
  PlotMarker marker_ = PlotMarker::None;
  bool markersVisible_ = true;
  // More points on screen than markers can show apart: the line alone is drawn.
  bool dense_ = false;
  void UpdateDensity(double min, double max, int pixels);
  std::vector<QPointF> points_;
  // The library holds points_ in this order (they were handed over in key order).
  bool sorted_ = true;
};

class TPlot : public QWidget {
  Q_OBJECT
 public:
  explicit TPlot(QWidget* parent = nullptr);
  ~TPlot() override;

  // ---- axes
  void SetAxisCaption(PlotAxis axis, const QString& caption);
  QString AxisCaption(PlotAxis axis) const;
  void SetAxisRange(PlotAxis axis, double min, double max);
  double AxisMin(PlotAxis axis) const;
  double AxisMax(PlotAxis axis) const;
  void SetAxisMin(PlotAxis axis, double min) { SetAxisRange(axis, min, AxisMax(axis)); }
  void SetAxisMax(PlotAxis axis, double max) { SetAxisRange(axis, AxisMin(axis), max); }
  // Ticks at min + i * (max - min) / (count - 1), both ends included.
  void SetTickCount(PlotAxis axis, int count);
  int TickCount(PlotAxis axis) const;
  std::vector<double> TickPositions(PlotAxis axis) const;
  // The texts the axis shows at its ticks, in order.
  QStringList TickLabels(PlotAxis axis) const;
  // Value axes: at most `decimals` decimals, trailing zeros dropped ("###0.##" for 2).
  void SetNumberDecimals(PlotAxis axis, int decimals);
  // Supplies the label of each tick of the bottom axis.
  void SetBottomTickLabeler(std::function<QString(double)> labeler);
  void SetAxisLineVisible(PlotAxis axis, bool visible);
  void SetGridVisible(PlotAxis axis, bool visible);
  bool GridVisible(PlotAxis axis) const;
  void SetGridColor(const QColor& color);
  void SetTickLabelsVisible(bool visible);
  void SetMargins(int left, int top, int right, int bottom);

  // ---- series
  TPlotSeries* AddSeries(const QString& name, PlotAxis axis);
  TPlotSeries* Series(const QString& name) const;
  int SeriesCount() const { return static_cast<int>(series_.size()); }

  // ---- pixels and values (widget coordinates)
  double PixelToValue(PlotAxis axis, double pixel) const;
  double ValueToPixel(PlotAxis axis, double value) const;
  // The plot field in widget coordinates.
  QRect PlotRect() const;
  // The widget that receives the mouse (its coordinates are the ones above).
  QWidget* Canvas() const;

  // Called for each axis before a mouse zoom is applied; may change the range, or refuse it by
  // returning false (the axis then keeps its range).
  std::function<bool(PlotAxis axis, double& min, double& max)> BeforeZoom;
  // The value axis that zooms and pans together with the time axis.
  void SetActiveValueAxis(PlotAxis axis) { activeValueAxis_ = axis; }

  // Redraws now (drawing is buffered; changes are otherwise drawn on the next paint).
  void Replot();
  // A picture of the plot at the given size.
  QImage Render(QSize size);

 signals:
  // Mouse events that are not part of a zoom or pan, in widget coordinates.
  void plotMousePressed(QMouseEvent* event);
  void plotMouseMoved(QMouseEvent* event);
  void plotMouseReleased(QMouseEvent* event);
  // After a zoom or pan changed the visible ranges.
  void rangesChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A zoom or pan ends; a cancelled pan goes back to where it started.
  void EndDrag(bool cancelled);
  friend class TPlotSeries;
  struct Impl;
  std::unique_ptr<Impl> d_;
  std::vector<std::unique_ptr<TPlotSeries>> series_;
  PlotAxis activeValueAxis_ = PlotAxis::Left;
};

}  // namespace ondrevo
