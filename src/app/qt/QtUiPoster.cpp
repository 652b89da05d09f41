#include "app/qt/QtUiPoster.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace {

const QEvent::Type kPostedMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessage final : public QEvent {
 public:
  PostedMessage(unsigned message, std::uintptr_t wParam, std::uintptr_t lParam)
      : QEvent(kPostedMessage), m_message(message), m_wParam(wParam), m_lParam(lParam) {}
  unsigned m_message;
  std::uintptr_t m_wParam;
  std::uintptr_t m_lParam;
};

class QtUiPoster final : public QObject, public UiPoster {
 public:
  explicit QtUiPoster(PostedMessageProc handler) : m_proc(handler) {}

  bool Post(unsigned message, std::uintptr_t wParam, std::uintptr_t lParam) override {
    // Ahead of the other posted work, the repaint of the button that took the focus among
    // it, as a posted message is fetched before paint: a key's long message waits for no
    // drawing.
    QCoreApplication::postEvent(this, new PostedMessage(message, wParam, lParam), Qt::HighEventPriority);
    return true;
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() != kPostedMessage) return QObject::event(e);
    const auto* posted = static_cast<PostedMessage*>(e);
    m_proc(this, posted->m_message, posted->m_wParam, posted->m_lParam);
    return true;
  }

 private:
  PostedMessageProc m_proc;
};

}  // namespace

std::unique_ptr<UiPoster> QtUiPosterFactory::Create(PostedMessageProc proc) {
  return std::make_unique<QtUiPoster>(proc);
}
