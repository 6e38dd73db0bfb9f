// CVoxtrailstudyApp: the application object. Its constructor starts logging and creates the
// core object; InitInstance runs the main dialog; its destructor deletes the core object and
// stops logging last.
//
// Threading: UI thread only. Construct it after the QApplication.
#pragma once

#include <string>

class CMainDlg;

class CVoxtrailstudyApp {
 public:
  CVoxtrailstudyApp();
  ~CVoxtrailstudyApp();
  CVoxtrailstudyApp(const CVoxtrailstudyApp&) = delete;
  CVoxtrailstudyApp& operator=(const CVoxtrailstudyApp&) = delete;

  // False when the core object could not be created; StartError() says why.
  bool StartedOk() const;
  const std::string& StartError() const { return startError_; }

  // Creates the main dialog, registers the file types, runs the dialog and deletes it.
  // Returns false always: no other message loop runs afterwards.
  bool InitInstance();
  // The process exit status the window asked for (its start-up may end the program).
  int ExitCode() const { return exitCode_; }

  // Asks the running main dialog to end (SIGTERM, SIGINT), whatever box is up; remembered
  // when no dialog runs yet, so the dialog then ends as soon as it starts.
  void RequestClose();
  // This copy holds its position (the program's start took it): the window looks for no other
  // copy of its own.
  void SetPositionTaken() { positionTaken_ = true; }

 private:
  bool positionTaken_ = false;
  CMainDlg* mainDlg_ = nullptr;
  bool closeRequested_ = false;
  int exitCode_ = 0;
  std::string startError_;
};
