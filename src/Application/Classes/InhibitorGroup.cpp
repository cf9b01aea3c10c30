#include "Application/Classes/InhibitorGroup.h"

#include <QLabel>
#include <QVBoxLayout>

#include "qtbridge/KeyValueSignal.h"

namespace somnara {

InhibitorGroup::InhibitorGroup(host::Inhibitors& inhibitors, QWidget* parent)
    : QGroupBox("Keeping the machine awake", parent),
      list_(inhibitors),
      changes_(std::make_unique<qtbridge::KeyValueSignal>(list_, InhibitorList::kProperty_inhibitors)) {
  setObjectName("inhibitorGroup");
  auto* layout = new QVBoxLayout(this);
  lines_ = new QLabel(this);
  lines_->setObjectName("inhibitorLines");
  lines_->setWordWrap(true);
  lines_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(lines_);
  connect(changes_.get(), &qtbridge::KeyValueSignal::changed, this, &InhibitorGroup::fill);
  fill();
}

InhibitorGroup::~InhibitorGroup() = default;

void InhibitorGroup::startLooking() {
  started_ = true;
  if (isVisible()) look();
}

void InhibitorGroup::look() {
  if (looking_) return;
  list_.beginLooking();
  looking_ = true;
}

void InhibitorGroup::showEvent(QShowEvent* event) {
  if (started_) look();
  QGroupBox::showEvent(event);
}

void InhibitorGroup::hideEvent(QHideEvent* event) {
  if (looking_) list_.endLooking();
  looking_ = false;
  QGroupBox::hideEvent(event);
}

void InhibitorGroup::fill() {
  QStringList lines;
  for (const auto& line : list_.lines()) lines << QString::fromStdString(line);
  lines_->setText(lines.join('\n'));
  lines_->setAccessibleName(lines_->text());
}

}  // namespace somnara
