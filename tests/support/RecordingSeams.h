// Records every message box, beep and shell request, and answers boxes from a script.
// Installs itself for its lifetime.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/UserSeams.h"

class RecordingSeams final : public UserSeams {
 public:
  struct Box {
    OwnerWindow owner;
    std::string text;
    std::string caption;
    unsigned style;
  };

  RecordingSeams();
  ~RecordingSeams() override;

  int ShowMessageBox(OwnerWindow owner, const std::string& text, const std::string& caption,
                 unsigned style) override;
  void MessageBeep(unsigned type) override;
  bool ShellOpen(const std::string& target) override;

  std::vector<Box> Boxes() const;
  std::vector<unsigned> Beeps() const;
  std::vector<std::string> Opened() const;
  void AnswerNext(int answer);  // default answer is QM_IDOK
  bool shellOpenResult = true;

 private:
  mutable std::mutex m_mutex;
  std::vector<Box> m_boxes;
  std::vector<unsigned> m_beeps;
  std::vector<std::string> m_opened;
  std::deque<int> m_answers;
  UserSeams* m_previous;
};
