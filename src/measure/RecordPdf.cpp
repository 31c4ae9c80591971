#include "measure/RecordPdf.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgRenderer>
#include <QTextLayout>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "document/Translate.h"

namespace ondrevo {

namespace {

constexpr int kDpi = 300;
double Pt(double points) {
  return points * kDpi / 72.0;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QFont Sans(double points, bool bold = false) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setStyleHint(QFont::SansSerif);
  f.setPointSizeF(points);
  f.setBold(bold);
  return f;
}

QFont Mono(double points) {
  QFont f(QStringLiteral("DejaVu Sans Mono"));
  f.setStyleHint(QFont::Monospace);
  f.setPointSizeF(points);
  return f;
}

// Lays text out in lines no wider than `width`; a word longer than a line is broken anywhere, so
// nothing runs past the margin. Returns the height.
double Wrap(QTextLayout& layout, double width) {
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  double y = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    line.setPosition(QPointF(0, y));
    y += line.height();
  }
  layout.endLayout();
  return y;
}

// One pass over the pages: a cursor that moves down the page and starts the next when a block
// does not fit. Run once to count the pages and once more to draw with the count in the footer.
class TPages {
 public:
  TPages(QPdfWriter& writer, QPainter& painter, const TReportContent& c, int total)
      : writer_(writer), p_(painter), c_(c), total_(total) {
    const QRect paint = writer.pageLayout().paintRectPixels(kDpi);
    width_ = paint.width();
    footer_ = Pt(16);
    bottom_ = paint.height() - footer_;
  }

  int Pages() const { return page_; }

  void Draw() {
    Footer();
    Paragraph(Q(c_.Title), Sans(18, true), Qt::black, Pt(8));
    Table({}, Facts(), true);
    Paragraph(Q(c_.Verdict), Sans(10.5, true),
              c_.LeftBand ? QColor(0xb0, 0, 0) : QColor(0, 0x70, 0), Pt(8));
    for (const std::string& svg : c_.Pictures) Picture(svg);
    for (const TReportSection& s : c_.Sections) {
      Heading(Q(s.Title));
      if (!s.Text.empty()) Paragraph(Q(s.Text), Sans(9), Qt::black, Pt(4));
      if (s.Table.Rows.empty())
        Paragraph(QString::fromUtf8(_("none")), Sans(9), Qt::black, Pt(4));
      else
        Table(s.Table.Header, s.Table.Rows, false);
    }
    Heading(Q(c_.LogTitle));
    const QFont mono = Mono(7);
    for (const std::string& line : c_.Log) Paragraph(Q(line), mono, Qt::black, 0);
  }

 private:
  std::vector<std::vector<std::string>> Facts() const {
    std::vector<std::vector<std::string>> rows;
    for (const auto& [label, value] : c_.Facts) rows.push_back({label, value});
    return rows;
  }

  void NewPage() {
    writer_.newPage();
    ++page_;
    y_ = 0;
    Footer();
  }

  void Need(double height) {
    if (y_ > 0 && y_ + height > bottom_) NewPage();
  }

  void Footer() {
    p_.save();
    p_.setFont(Sans(7.5));
    p_.setPen(QColor(0x66, 0x66, 0x66));
    const QRectF band(0, bottom_ + footer_ * 0.35, width_, footer_ * 0.65);
    p_.drawLine(QPointF(0, band.top()), QPointF(width_, band.top()));
    char page[96];
    std::snprintf(page, sizeof page, _("Page %d of %d"), page_, std::max(total_, page_));
    const QString left = Q(c_.Title) + QStringLiteral(": ") + Q(c_.Document);
    QFontMetricsF fm(p_.font(), &writer_);
    const QString right = QString::fromUtf8(page);
    const double rightWidth = fm.horizontalAdvance(right);
    p_.drawText(band.adjusted(0, Pt(2), -rightWidth - Pt(12), 0), Qt::AlignLeft | Qt::AlignTop,
                fm.elidedText(left, Qt::ElideMiddle, width_ - rightWidth - Pt(12)));
    p_.drawText(band.adjusted(0, Pt(2), 0, 0), Qt::AlignRight | Qt::AlignTop, right);
    p_.restore();
  }

  // Flows over pages line by line, so a long log entry may continue on the next page.
  void Paragraph(const QString& text, const QFont& font, const QColor& colour, double after,
                 double indent = 0) {
    QTextLayout layout(text, font, &writer_);
    Wrap(layout, width_ - indent);
    p_.setPen(colour);
    for (int k = 0; k < layout.lineCount(); ++k) {
      const QTextLine line = layout.lineAt(k);
      Need(line.height());
      line.draw(&p_, QPointF(indent, y_ - line.y()));
      y_ += line.height();
    }
    y_ += after;
  }

  void Heading(const QString& text) {
    QTextLayout probe(text, Sans(12.5, true), &writer_);
    // A heading keeps its first lines of content with it.
    Need(Wrap(probe, width_) + Pt(40));
    y_ += Pt(6);
    Paragraph(text, Sans(12.5, true), Qt::black, Pt(4));
  }

  void Picture(const std::string& svg) {
    QSvgRenderer renderer(QByteArray::fromStdString(svg));
    if (!renderer.isValid()) return;
    const QSizeF size = renderer.defaultSize();
    const double height = size.width() > 0 ? width_ * size.height() / size.width() : width_ / 3;
    Need(height);
    renderer.render(&p_, QRectF(0, y_, width_, height));
    y_ += height + Pt(8);
  }

  // Column widths: each column's widest cell while they all fit, else the narrow columns keep
  // theirs and the wide ones share the rest.
  std::vector<double> Columns(const std::vector<std::string>& header,
                              const std::vector<std::vector<std::string>>& rows, bool boldFirst) {
    std::size_t n = header.size();
    for (const auto& r : rows) n = std::max(n, r.size());
    std::vector<double> natural(n, 0);
    const QFontMetricsF plain(Sans(9), &writer_), bold(Sans(9, true), &writer_);
    const double pad = 2 * Pt(4) + 1;
    for (std::size_t k = 0; k < header.size(); ++k)
      natural[k] = bold.horizontalAdvance(Q(header[k])) + pad;
    for (const auto& r : rows)
      for (std::size_t k = 0; k < r.size(); ++k)
        natural[k] = std::max(
            natural[k], (boldFirst && k == 0 ? bold : plain).horizontalAdvance(Q(r[k])) + pad);
    double sum = 0;
    for (double w : natural) sum += w;
    if (sum <= width_ || n == 0) return natural;
    std::vector<double> out(n, 0);
    std::vector<bool> fixed(n, false);
    double left = width_;
    std::size_t open = n;
    // Columns narrower than an equal share keep their width; repeat until the rest are wide.
    for (bool changed = true; changed && open > 0;) {
      changed = false;
      const double share = left / open;
      for (std::size_t k = 0; k < n; ++k)
        if (!fixed[k] && natural[k] <= share) {
          out[k] = natural[k];
          fixed[k] = true;
          left -= natural[k];
          --open;
          changed = true;
        }
    }
    double wide = 0;
    for (std::size_t k = 0; k < n; ++k)
      if (!fixed[k]) wide += natural[k];
    for (std::size_t k = 0; k < n; ++k)
      if (!fixed[k]) out[k] = left * natural[k] / wide;
    return out;
  }

  void Table(const std::vector<std::string>& header,
             const std::vector<std::vector<std::string>>& rows, bool facts) {
    if (header.empty() && rows.empty()) return;
    const std::vector<double> widths = Columns(header, rows, facts);
    const double pad = Pt(4), vpad = Pt(2.5);
    auto row = [&](const std::vector<std::string>& cells, bool head, bool measureOnly) {
      std::vector<std::unique_ptr<QTextLayout>> layouts;
      double height = 0;
      for (std::size_t k = 0; k < widths.size(); ++k) {
        const bool bold = head || (facts && k == 0);
        layouts.push_back(std::make_unique<QTextLayout>(k < cells.size() ? Q(cells[k]) : QString(),
                                                        Sans(9, bold), &writer_));
        height = std::max(height, Wrap(*layouts.back(), widths[k] - 2 * pad));
      }
      height += 2 * vpad;
      if (measureOnly) return height;
      double x = 0;
      p_.setPen(QPen(QColor(0xbb, 0xbb, 0xbb), Pt(0.5)));
      for (std::size_t k = 0; k < widths.size(); ++k) {
        const QRectF cell(x, y_, widths[k], height);
        const bool shaded = head || (facts && k == 0);
        p_.fillRect(cell, shaded ? QColor(0xee, 0xee, 0xee) : Qt::white);
        p_.drawRect(cell);
        x += widths[k];
      }
      p_.setPen(Qt::black);
      x = 0;
      for (std::size_t k = 0; k < widths.size(); ++k) {
        layouts[k]->draw(&p_, QPointF(x + pad, y_ + vpad));
        x += widths[k];
      }
      y_ += height;
      return height;
    };
    const double headHeight = header.empty() ? 0 : row(header, true, true);
    Need(headHeight + (rows.empty() ? 0 : row(rows[0], false, true)));
    if (!header.empty()) row(header, true, false);
    for (const auto& r : rows) {
      const double h = row(r, false, true);
      if (y_ + h > bottom_ && y_ > headHeight) {
        NewPage();
        if (!header.empty()) row(header, true, false);  // the header again on each page
      }
      row(r, false, false);
    }
    y_ += Pt(8);
  }

  QPdfWriter& writer_;
  QPainter& p_;
  const TReportContent& c_;
  int total_ = 0, page_ = 1;
  double width_ = 0, bottom_ = 0, footer_ = 0, y_ = 0;
};

// Draws the report; returns the number of pages, or 0 when Qt could not begin or end the file.
int Render(const TReportContent& c, QIODevice& out, int total) {
  QPdfWriter writer(&out);
  writer.setResolution(kDpi);
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                   QMarginsF(15, 15, 15, 12), QPageLayout::Millimeter));
  writer.setTitle(Q(c.Title) + QStringLiteral(": ") + Q(c.Document));
  writer.setCreator(QStringLiteral("Ondrevo Designer"));
  QPainter painter;
  if (!painter.begin(&writer)) return 0;
  painter.setRenderHint(QPainter::Antialiasing);
  TPages pages(writer, painter, c, total);
  pages.Draw();
  return painter.end() ? pages.Pages() : 0;
}

}  // namespace

std::string ReportPdf(const TReportContent& c) {
  // Once to count the pages for the footers, once for the file.
  QByteArray scratch;
  QBuffer first(&scratch);
  first.open(QIODevice::WriteOnly);
  const int total = Render(c, first, 0);
  QByteArray bytes;
  QBuffer second(&bytes);
  second.open(QIODevice::WriteOnly);
  if (total == 0 || Render(c, second, total) != total)
    throw std::runtime_error(_("The PDF report could not be drawn."));
  return bytes.toStdString();
}

std::string ReportPdf(const TRecordInput& in, const TRecordFigures& figures) {
  return ReportPdf(ComposeReport(in, figures));
}

bool IsPdfName(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return tail == ".pdf";
}

}  // namespace ondrevo
