// ondrevo-cli plot: the design and the instrument's points as a picture, without a display.
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/Painting.h"
#include "document/AtomicFile.h"
#include "document/DocumentIO.h"
#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"
#include "model/Builder.h"
#include "playback/InstrumentPreview.h"

namespace ondrevo::cli {

namespace {

const QColor kVoltageColour(0x1f, 0x5f, 0xd0);
const QColor kCurrentColour(0xd0, 0x30, 0x30);

struct Axis {
  double lo = 0, hi = 1;
  double step = 1;
};

// Round steps of 1, 2 or 5 times a power of ten, about `count` of them over [lo, hi].
Axis NiceAxis(double lo, double hi, int count) {
  if (!(hi > lo)) {
    const double pad = std::max(std::fabs(hi) * 0.1, 1.0);
    lo -= pad, hi += pad;
  }
  const double raw = (hi - lo) / count;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / mag;
  const double step = (norm < 1.5 ? 1 : norm < 3 ? 2 : norm < 7 ? 5 : 10) * mag;
  return {std::floor(lo / step) * step, std::ceil(hi / step) * step, step};
}

QString Label(double x, double step) {
  // Rounded to the step's own digits, so 0.30000000000000004 reads 0.3.
  const double digits = std::max(0.0, -std::floor(std::log10(step)) + 1);
  const double scale = std::pow(10.0, digits);
  double r = std::round(x * scale) / scale;
  if (std::fabs(r) < step * 1e-9) r = 0;
  return QString::fromStdString(FormatShortest(r));
}

QString T(const char* text) {
  return QString::fromUtf8(_(text));
}

struct Plot {
  std::string title, subtitle;
  const TWaveform* voltage = nullptr;
  const TWaveform* current = nullptr;
  const InstrumentPreview* preview = nullptr;  // null without a model
};

void Render(QPainter& p, const QRectF& page, const Plot& plot) {
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(page, Qt::white);
  QFont font("DejaVu Sans");
  font.setPixelSize(std::clamp(static_cast<int>(page.height() / 48), 9, 16));
  p.setFont(font);
  const QFontMetricsF fm(font);
  const double line = fm.height();

  // Layout: title lines, then the frame with the time axis below and a value axis each side.
  double top = page.top() + line * 0.5;
  QFont bold = font;
  bold.setBold(true);
  p.setFont(bold);
  p.setPen(Qt::black);
  p.drawText(QRectF(page.left(), top, page.width(), line), Qt::AlignHCenter,
             QString::fromStdString(plot.title));
  top += line * 1.2;
  p.setFont(font);
  if (!plot.subtitle.empty()) {
    p.drawText(QRectF(page.left(), top, page.width(), line), Qt::AlignHCenter,
               QString::fromStdString(plot.subtitle));
    top += line * 1.2;
  }
  const double legendHeight = line * 1.6;
  const QRectF frame(page.left() + fm.horizontalAdvance("00000.000") + line * 1.5, top + line * 0.5,
                     page.width() - 2 * (fm.horizontalAdvance("00000.000") + line * 1.5),
                     page.bottom() - top - line * 3.5 - legendHeight);
  if (frame.width() < 20 || frame.height() < 20) return;

  const TDoubleVector* times = plot.preview ? &plot.preview->Times : nullptr;
  double duration = std::max(plot.voltage->GetDuration(), plot.current->GetDuration());
  if (times && !times->empty()) duration = std::max(duration, times->back());
  const Axis tAxis = NiceAxis(0, duration > 0 ? duration : 1, 8);
  const int columns = std::max(1, static_cast<int>(frame.width()));

  TDoubleVector vLo, vHi, iLo, iHi;
  DesignEnvelope(*plot.voltage, tAxis.lo, tAxis.hi, columns, vLo, vHi);
  DesignEnvelope(*plot.current, tAxis.lo, tAxis.hi, columns, iLo, iHi);
  auto range = [&](const TDoubleVector& lo, const TDoubleVector& hi, int curve) {
    double a = 0, b = 0;  // values start from 0, as the editor's axes do
    for (std::size_t c = 0; c < lo.size(); ++c)
      if (!std::isnan(lo[c])) a = std::min(a, lo[c]), b = std::max(b, hi[c]);
    if (plot.preview)
      for (double v : plot.preview->Values[curve]) a = std::min(a, v), b = std::max(b, v);
    return NiceAxis(a, b + (b - a) * 0.05, 6);
  };
  const Axis vAxis = range(vLo, vHi, 0);
  const Axis iAxis = range(iLo, iHi, 1);
  auto x = [&](double t) {
    return frame.left() + (t - tAxis.lo) / (tAxis.hi - tAxis.lo) * frame.width();
  };
  auto y = [&](const Axis& a, double v) {
    return frame.bottom() - (v - a.lo) / (a.hi - a.lo) * frame.height();
  };

  // Grid and tick labels.
  QPen gridPen(QColor(0xdd, 0xdd, 0xdd));
  gridPen.setWidthF(1);
  for (double t = tAxis.lo; t <= tAxis.hi + tAxis.step * 1e-6; t += tAxis.step) {
    p.setPen(gridPen);
    p.drawLine(QPointF(x(t), frame.top()), QPointF(x(t), frame.bottom()));
    p.setPen(Qt::black);
    p.drawText(QRectF(x(t) - 60, frame.bottom() + line * 0.2, 120, line), Qt::AlignHCenter,
               Label(t, tAxis.step));
  }
  for (double v = vAxis.lo; v <= vAxis.hi + vAxis.step * 1e-6; v += vAxis.step) {
    p.setPen(gridPen);
    p.drawLine(QPointF(frame.left(), y(vAxis, v)), QPointF(frame.right(), y(vAxis, v)));
    p.setPen(kVoltageColour);
    p.drawText(
        QRectF(page.left(), y(vAxis, v) - line / 2, frame.left() - page.left() - line * 0.4, line),
        Qt::AlignRight | Qt::AlignVCenter, Label(v, vAxis.step));
  }
  p.setPen(kCurrentColour);
  for (double v = iAxis.lo; v <= iAxis.hi + iAxis.step * 1e-6; v += iAxis.step)
    p.drawText(QRectF(frame.right() + line * 0.4, y(iAxis, v) - line / 2, 200, line),
               Qt::AlignLeft | Qt::AlignVCenter, Label(v, iAxis.step));
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(frame);
  // Axis titles.
  p.drawText(QRectF(frame.left(), frame.bottom() + line * 1.3, frame.width(), line),
             Qt::AlignHCenter, T("Time (s)"));
  p.save();
  p.setPen(kVoltageColour);
  p.translate(page.left() + line * 0.2, frame.center().y());
  p.rotate(-90);
  p.drawText(QRectF(-frame.height() / 2, 0, frame.height(), line), Qt::AlignHCenter,
             T("Voltage (V)"));
  p.restore();
  p.save();
  p.setPen(kCurrentColour);
  p.translate(page.right() - line * 0.2, frame.center().y());
  p.rotate(90);
  p.drawText(QRectF(-frame.height() / 2, 0, frame.height(), line), Qt::AlignHCenter,
             T("Current (A)"));
  p.restore();

  p.setClipRect(frame.adjusted(-2, -2, 2, 2));
  // The design: one vertical stroke per column from its smallest to its largest value.
  auto design = [&](const TDoubleVector& lo, const TDoubleVector& hi, const Axis& a, QColor c) {
    QPainterPath path;
    bool open = false;
    for (int col = 0; col < columns; ++col) {
      if (std::isnan(lo[col])) {
        open = false;
        continue;
      }
      const double px = frame.left() + col + 0.5;
      if (!open)
        path.moveTo(px, y(a, lo[col]));
      else
        path.lineTo(px, y(a, lo[col]));
      path.lineTo(px, y(a, hi[col]));
      open = true;
    }
    p.setPen(QPen(c, 1.6));
    p.drawPath(path);
  };
  design(vLo, vHi, vAxis, kVoltageColour);
  design(iLo, iHi, iAxis, kCurrentColour);
  // The instrument's staircase, dashed and lighter, over the design.
  auto stairs = [&](int curve, const Axis& a, QColor c) {
    if (!plot.preview || plot.preview->Durations.empty()) return;
    const TDoubleVector& v = plot.preview->Values[curve];
    QPainterPath path;
    path.moveTo(x((*times)[0]), y(a, v[0]));
    for (std::size_t j = 0; j < v.size(); ++j) {
      if (j > 0) path.lineTo(x((*times)[j]), y(a, v[j]));
      path.lineTo(x((*times)[j + 1]), y(a, v[j]));
    }
    QColor light = c.lighter(140);
    QPen pen(light, 1.6, Qt::DashLine);
    p.setPen(pen);
    p.drawPath(path);
  };
  stairs(0, vAxis, kVoltageColour);
  stairs(1, iAxis, kCurrentColour);
  p.setClipping(false);

  // Legend below the axis title.
  struct Entry {
    QString text;
    QColor colour;
    bool dashed;
  };
  std::vector<Entry> entries = {{T("Voltage (design)"), kVoltageColour, false},
                                {T("Current (design)"), kCurrentColour, false}};
  if (plot.preview) {
    entries.insert(entries.begin() + 1,
                   {T("Voltage (instrument points)"), kVoltageColour.lighter(140), true});
    entries.push_back({T("Current (instrument points)"), kCurrentColour.lighter(140), true});
  }
  double total = 0;
  for (const Entry& e : entries) total += line * 3 + fm.horizontalAdvance(e.text) + line;
  double lx = frame.center().x() - total / 2;
  const double ly = frame.bottom() + line * 2.8 + legendHeight / 2;
  for (const Entry& e : entries) {
    p.setPen(QPen(e.colour, 2, e.dashed ? Qt::DashLine : Qt::SolidLine));
    p.drawLine(QPointF(lx, ly), QPointF(lx + line * 2.4, ly));
    p.setPen(Qt::black);
    p.drawText(QRectF(lx + line * 3, ly - line / 2, fm.horizontalAdvance(e.text) + 4, line),
               Qt::AlignLeft | Qt::AlignVCenter, e.text);
    lx += line * 3 + fm.horizontalAdvance(e.text) + line;
  }
}

struct PlotOptions {
  std::string document, model, output, size = "1200x700";
};

int RunPlot(const PlotOptions& o) {
  int width = 0, height = 0;
  {
    const auto at = o.size.find('x');
    std::int64_t w = 0, h = 0;
    if (at == std::string::npos || !TryParseInteger(o.size.substr(0, at), w) ||
        !TryParseInteger(o.size.substr(at + 1), h) || w < 200 || h < 150 || w > 20000 ||
        h > 20000) {
      std::fprintf(stderr, "ondrevo-cli: --size: WIDTHxHEIGHT from 200x150 to 20000x20000\n");
      return 2;
    }
    width = static_cast<int>(w), height = static_cast<int>(h);
  }
  std::string output = o.output;
  if (output.empty()) output = std::filesystem::path(o.document).replace_extension(".png").string();
  std::string ext = std::filesystem::path(output).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (ext != ".png" && ext != ".svg" && ext != ".pdf") {
    std::fprintf(stderr, "ondrevo-cli: -o: the name must end in .png, .svg or .pdf\n");
    return 2;
  }

  std::optional<SupplyListSettings> settings;
  if (!o.model.empty()) settings = SupplySettingsForModel(o.model);
  SegmentTable voltageTable, currentTable;
  ReadDocumentFile(o.document, voltageTable, currentTable);
  auto voltage = BuildWaveform(voltageTable);
  auto current = BuildWaveform(currentTable);
  std::optional<InstrumentPreview> preview;
  if (settings) preview = ComputeInstrumentPreview(voltageTable, currentTable, *settings);

  const auto app = PaintingApplication();  // no display needed

  Plot plot;
  plot.title = std::filesystem::path(o.document).filename().string();
  if (preview) {
    plot.title += " \u2014 " + o.model;
    plot.subtitle = PreviewSummary(*preview);
  }
  plot.voltage = voltage.get();
  plot.current = current.get();
  plot.preview = preview ? &*preview : nullptr;

  const QRectF page(0, 0, width, height);
  // Rendered in memory and saved as documents are (atomic; read-only files, FIFOs and devices
  // refused, links followed): a failed or short write never leaves half a picture.
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  bool ok = false;
  if (ext == ".png") {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    Render(painter, page, plot);
    painter.end();
    ok = image.save(&buffer, "PNG");
  } else if (ext == ".svg") {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(width, height));
    svg.setViewBox(page);
    svg.setTitle(QString::fromStdString(plot.title));
    QPainter painter;
    ok = painter.begin(&svg);
    if (ok) {
      Render(painter, page, plot);
      ok = painter.end();
    }
  } else {
    QPdfWriter pdf(&buffer);
    pdf.setPageSize(QPageSize(QSizeF(width, height), QPageSize::Point));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setResolution(72);
    pdf.setTitle(QString::fromStdString(plot.title));
    QPainter painter;
    ok = painter.begin(&pdf);
    if (ok) {
      Render(painter, page, plot);
      ok = painter.end();
    }
  }
  buffer.close();
  if (!ok || bytes.isEmpty()) return Fail(_("Cannot write ") + EscapeControls(output));
  try {
    WriteFileAtomically(
        output, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  } catch (const EFileRefused& e) {
    return Fail(EscapeControls(output) + ": " + e.Reason());
  } catch (const std::system_error& e) {
    return Fail(std::string(e.what()));
  }
  return 0;
}

}  // namespace

void RegisterPlotCommand(CommandRegistry& registry) {
  auto o = std::make_shared<PlotOptions>();
  CLI::App* sub = registry.app.add_subcommand(
      "plot", "Draw the design and the points a supply model plays, as PNG, SVG or PDF");
  sub->add_option("document", o->document, "The .ovx document")->required();
  sub->add_option("--model", o->model, "Instrument model, e.g. \"KSV 7341-20\"");
  sub->add_option("-o,--output", o->output, "OUT.png, OUT.svg or OUT.pdf (default: DOC.png)");
  sub->add_option("--size", o->size, "WIDTHxHEIGHT in pixels (default 1200x700)");
  registry.Add(sub, [o]() { return RunPlot(*o); });
}

}  // namespace ondrevo::cli
