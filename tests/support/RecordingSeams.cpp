#include "RecordingSeams.h"

RecordingSeams::RecordingSeams() : m_previous(InstallUserSeams(this)) {}

RecordingSeams::~RecordingSeams() { InstallUserSeams(m_previous); }

int RecordingSeams::ShowMessageBox(OwnerWindow owner, const std::string& text,
                               const std::string& caption, unsigned style) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_boxes.push_back({owner, text, caption, style});
  if (m_answers.empty()) return QM_IDOK;
  const int answer = m_answers.front();
  m_answers.pop_front();
  return answer;
}

void RecordingSeams::MessageBeep(unsigned type) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_beeps.push_back(type);
}

bool RecordingSeams::ShellOpen(const std::string& target) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_opened.push_back(target);
  return shellOpenResult;
}

std::vector<RecordingSeams::Box> RecordingSeams::Boxes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_boxes;
}

std::vector<unsigned> RecordingSeams::Beeps() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_beeps;
}

std::vector<std::string> RecordingSeams::Opened() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_opened;
}

void RecordingSeams::AnswerNext(int answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_answers.push_back(answer);
}
