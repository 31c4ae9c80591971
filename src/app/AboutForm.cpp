#include "app/AboutForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Icons.h"
#include "app/TrQ.h"

namespace ondrevo {

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutForm");
  setWindowTitle(TrQ("About Ondrevo Designer..."));
  setModal(true);

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop);

  auto* name = new QLabel(QStringLiteral("<b style='font-size:14pt'>Ondrevo Designer</b><br>%1 %2")
                              .arg(TrQ("Version"), QString::fromLatin1(kProgramVersion)),
                          this);
  name->setObjectName("ProductName");
  auto* notice = new QLabel(TrQ("Copyright (C) Kestravo. All rights reserved.\n"
                                "Designs waveforms for programmable DC power supplies."),
                            this);
  notice->setObjectName("Copyright");
  notice->setWordWrap(true);

  // Links open with the desktop's default handler.
  auto link = [this](const char* object, const QString& url, const QString& text) {
    auto* l =
        new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), text), this);
    l->setObjectName(QString::fromLatin1(object));
    l->setTextFormat(Qt::RichText);
    l->setTextInteractionFlags(Qt::TextBrowserInteraction);
    l->setOpenExternalLinks(true);
    return l;
  };
  auto* web = link("WebLink", kMakerWebLink, QStringLiteral("www.kestravo.com"));
  auto* mail = link("MailLink", kMakerMailLink, QStringLiteral("info@kestravo.com"));

  auto* ok = new QPushButton(TrQ("OK"), this);
  ok->setObjectName("OKButton");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(notice);
  text->addWidget(web);
  text->addWidget(mail);
  text->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addLayout(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(360, 180)));
}

}  // namespace ondrevo
