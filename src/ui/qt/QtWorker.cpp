#include "ui/qt/QtWorker.h"

#include <utility>

#include <QMetaObject>

namespace qtui {

QtWorker::QtWorker(ui::ErrorReport& report)
    : m_receiver(std::make_unique<QObject>()),
      m_threads(
          [this] {
              // Called on a job's thread while this worker exists (ui::ThreadWorker holds its
              // lock); the call runs later on the receiver's thread.
              QMetaObject::invokeMethod(
                  m_receiver.get(), [this] { m_threads.deliver(); }, Qt::QueuedConnection);
          },
          report) {}

QtWorker::~QtWorker() = default;

void QtWorker::start(Job job, Completion completion) {
    m_threads.start(std::move(job), std::move(completion));
}

void QtWorker::startDetached(Job job) {
    m_threads.startDetached(std::move(job));
}

} // namespace qtui
