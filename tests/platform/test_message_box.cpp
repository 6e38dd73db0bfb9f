// Message-box service: default answers, the recording service and its script.
#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vts::plat;

TEST(MessageBox, DefaultAnswersPerButtonSet) {
  struct Case {
    unsigned type;
    int answer;
  } cases[] = {
      {MB_OK, IDOK},
      {MB_OK | MB_ICONERROR, IDOK},
      {MB_OKCANCEL | MB_ICONQUESTION, IDOK},
      {MB_YESNOCANCEL | MB_ICONWARNING, IDCANCEL},
      {MB_YESNO | MB_ICONQUESTION, IDNO},
  };
  SetMessageBoxService(nullptr);
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultAnswer(c.type), c.answer) << c.type;
    EXPECT_EQ(MessageBox(u"text", u"caption", c.type), c.answer) << c.type;
  }
}

TEST(MessageBox, RecordingServiceKeepsBoxesFromAnyThreadAndAnswersFromScript) {
  auto rec = std::make_shared<RecordingMessageBoxService>();
  SetMessageBoxService(rec);
  rec->ScriptAnswers({IDYES, IDCANCEL});
  int first = 0;
  std::thread([&] { first = MessageBox(u"Save?", u"Lectorine", MB_YESNOCANCEL); }).join();
  EXPECT_EQ(first, IDYES);
  EXPECT_EQ(MessageBox(u"Again?", u"Confirm", MB_YESNO), IDCANCEL);
  EXPECT_EQ(MessageBox(u"Script ran out", u"Attention", MB_YESNO), IDNO);
  auto boxes = rec->Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, u"Save?");
  EXPECT_EQ(boxes[0].caption, u"Lectorine");
  EXPECT_EQ(boxes[0].type, MB_YESNOCANCEL);
  EXPECT_EQ(boxes[2].caption, u"Attention");
  rec->Clear();
  EXPECT_TRUE(rec->Boxes().empty());
  SetMessageBoxService(nullptr);
  EXPECT_EQ(MessageBox(u"x", u"y", MB_OK), IDOK);
  EXPECT_TRUE(rec->Boxes().empty());
}
