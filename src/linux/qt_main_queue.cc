#include "linux/qt_main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quillop {

void QtMainQueue::async(Job job) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(job), Qt::QueuedConnection);
}

}  // namespace quillop
