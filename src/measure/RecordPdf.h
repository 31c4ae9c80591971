// The test record's report as PDF: the HTML report's content laid out on A4 pages, its charts
// drawn as vectors from the same SVG pictures. Kept apart from measure/Record.h so that the core
// record code stays free of Qt.
#pragma once

#include <string>

#include "measure/Record.h"

namespace ondrevo {

// The PDF file's bytes; the caller writes them (atomically). Needs a QGuiApplication for the
// fonts. Long command logs continue over as many pages as they take. Raises std::runtime_error
// when Qt cannot draw the document.
std::string ReportPdf(const TReportContent& content);
std::string ReportPdf(const TRecordInput& in, const TRecordFigures& figures);

// A report name that asks for the PDF: ".pdf" in any case.
bool IsPdfName(const std::string& path);

}  // namespace ondrevo
