#include "shell/qt_event_dispatcher.h"

#include <QMetaObject>

namespace gateway {

void QtEventDispatcher::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

}  // namespace gateway
