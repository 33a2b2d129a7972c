#include "about_box.h"

#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "app/programmer_dlg.h"
#include "dialog_units.h"

namespace vtgui {

namespace {

// A scanner head over a memory chip: the station writes firmware into
// scanners.
QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);
  painter.setPen(QPen(QColor(20, 40, 90), 1.2));
  painter.setBrush(QColor(40, 90, 170));
  painter.drawRoundedRect(QRectF(3, 3, 26, 18), 3, 3);
  painter.setBrush(QColor(230, 60, 50));
  painter.setPen(Qt::NoPen);
  painter.drawRect(QRectF(6, 11, 20, 2));
  painter.setBrush(QColor(40, 40, 40));
  painter.drawRect(QRectF(9, 23, 14, 7));
  painter.setPen(QPen(QColor(40, 40, 40), 1));
  for (int x = 10; x <= 22; x += 3) painter.drawLine(QPointF(x, 22), QPointF(x, 31));
  return pixmap;
}

}  // namespace

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
  return icon;
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kAboutCaption);
  setFont(DialogFont());
  setFixedSize(DluSize(296, 68));

  auto* icon = new QLabel(this);
  const QRect iconPlace = DluRect(12, 31, 0, 0);
  icon->setGeometry(iconPlace.x(), iconPlace.y(), 32, 32);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));

  auto* version = new QLabel(kAboutVersion, this);
  version->setObjectName("version");
  version->setGeometry(DluRect(50, 10, 180, 8));

  auto* notice = new QLabel(kAboutNotice, this);
  notice->setObjectName("notice");
  notice->setGeometry(DluRect(50, 26, 180, 20));
  notice->setWordWrap(true);
  notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("okButton");
  ok->setGeometry(DluRect(239, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace vtgui
