// The product page in WebKitGTK, driven the way the native side drives it: page-load injection,
// a dictation from record to result, the resets, edit requests, history and usage.
#include <gtest/gtest.h>

#include "web/harness.h"
#include "web/page_calls.h"

namespace quorvel::testing {
namespace {

using nlohmann::json;
using Lines = std::vector<std::string>;

class UiPage : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(page.load(true)); }

  json js(const std::string& expr) { return page.value(expr); }
  std::string text(const std::string& id) {
    return js("document.getElementById('" + id + "').textContent").get<std::string>();
  }
  void run(const std::string& script) {
    const ScriptOutcome outcome = page.evaluate(script + "\n;undefined");
    ASSERT_TRUE(outcome.ok) << script << ": " << outcome.error;
  }
  void click(const std::string& selector) {
    run("document.querySelector(" + json(selector).dump() + ").click()");
  }
  // The messages the page posted so far with this action, once at least `count` arrived.
  std::vector<json> posted(const std::string& action, size_t count = 1) {
    std::vector<json> found;
    runUntil([&] {
      found.clear();
      for (const json& m : page.messages) {
        if (m.value("action", "") == action) found.push_back(m);
      }
      return found.size() >= count;
    });
    return found;
  }
  // One dictation up to the final result, as the recording controller drives it.
  void dictate(const std::string& raw, const std::string& polished) {
    run(page::toggleState(false) + page::speechResultEvent(raw) + ";" + page::toggleState(true) +
        page::showRawAndStartPolish(raw, "Extract") + page::updateResult(raw, polished, "Extract"));
  }

  PageHarness page;
};

TEST_F(UiPage, page_load_injection_brings_theme_usage_and_history_intact) {
  const std::string thisMonth = js("dayKey(new Date()).slice(0, 8) + '01'").get<std::string>();
  const std::string usage = "{\n  \"chars_used\" : 1234,\n  \"month_start\" : \"" + thisMonth +
                            "\",\n  \"total_chars\" : 5000,\n  \"total_sessions\" : 42\n}";
  const json history =
      json::array({{{"raw", "it's a \"test\"\n\\path"}, {"time", 1765000000000}},
                   {{"polished", "It's C:\\temp\r\nok"}, {"time", 1764000000000}}});
  run(page::applyTheme(true) + page::injectUsageData(usage) + page::injectHistory(history.dump(2)) +
      page::updateUsageFromInjectedData());
  EXPECT_TRUE(page.messages.empty()) << "the page posts nothing on its own at load";
  EXPECT_EQ(js("document.documentElement.classList.contains('dark')"), true);
  EXPECT_EQ(js("history"), history);
  EXPECT_EQ(js("Array.from(document.querySelectorAll('#historyList .hist-text'), e => "
               "e.textContent)"),
            json::array({"it's a \"test\"\n\\path", "It's C:\\temp\r\nok"}));
  EXPECT_EQ(
      Lines({text("statTotal"), text("statSessions"), text("statMinutes"), text("statMonth")}),
      (Lines{"5,000", "42", "25", "1,234"}));
  EXPECT_EQ(js("document.querySelectorAll('#usageChart rect').length"), 14);
  // Figures refreshed later; a count kept for an earlier month is not this month's.
  run(page::refreshUsage(R"({"chars_used": 77, "month_start": "2001-01-01", "total_chars": 6})"));
  EXPECT_EQ(text("statMonth") + " " + text("statTotal"), "0 6");
  run(page::applyTheme(false) + page::injectHistory("[{\"raw\": broken"));
  EXPECT_EQ(js("document.documentElement.classList.contains('dark')"), false);
  EXPECT_EQ(js("history.length"), 2) << "a history that does not parse leaves the list alone";
}

TEST_F(UiPage, a_dictation_runs_from_record_press_to_result_and_history) {
  run(page::toggleState(false));
  EXPECT_EQ(js("[state, recordBtn.classList.contains('recording'), recordingTimer !== null]"),
            json::array({"recording", true, true}));
  ASSERT_EQ(posted("start_recording").size(), 1u);
  run(page::speechResultEvent("go forward ten"));
  EXPECT_EQ(text("liveText"), "go forward ten");
  run(page::toggleState(true));
  EXPECT_EQ(js("[state, recordingTimer]"), json::array({"processing", nullptr}));
  EXPECT_EQ(posted("stop_recording")[0], json({{"action", "stop_recording"}, {"mode", "Extract"}}));
  // A family emoji with joiners and an e with two combining marks: two characters.
  const std::string raw = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9 e\xCC\x81\xCC\xA3";
  run(page::showRawAndStartPolish(raw, "Extract"));
  EXPECT_EQ(js("[rawText.textContent, processing.classList.contains('show'), recordBtn.disabled]"),
            json::array({raw, true, true}));
  EXPECT_EQ(text("rawCount"), "\xC2\xB7 3 chars");
  run(page::updateResult(raw, "Go forward 10 m.", "Extract"));
  EXPECT_EQ(js("[resultText.textContent, processing.classList.contains('show'), state, "
               "recordBtn.disabled, recordLabel.textContent]"),
            json::array({"Go forward 10 m.", false, "idle", false, "Record"}));
  const json saved = json::parse(posted("save_history")[0]["data"].get<std::string>());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(json({saved[0]["raw"], saved[0]["polished"], saved[0]["mode"]}),
            json({raw, "Go forward 10 m.", "Extract"}));
  EXPECT_TRUE(saved[0]["time"].is_number());
}

// The native side puts the page back at rest after nothing was said, after a start that failed
// (the page is still recording) and after a dictation that failed while processing.
TEST_F(UiPage, reset_calls_return_the_page_to_idle_with_their_message) {
  const struct {
    std::string script;
    bool stopped;  // the page's own stop ran before the call
    std::string footer;
  } cases[] = {{page::noSpeechReset(), true, "No speech detected."},
               {page::recordingAbandoned(), false, "Ready."},
               {page::recordingAbandoned(), true, "Ready."}};
  size_t starts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    run(page::toggleState(false) + page::speechResultEvent("uh") + ";" +
        (c.stopped ? page::toggleState(true) : ""));
    run(c.script);
    EXPECT_EQ(js("[state, recordingTimer, processing.classList.contains('show'), "
                 "resultText.textContent, footerStatus.textContent, recordBtn.disabled, "
                 "recordBtn.classList.contains('recording'), recordLabel.textContent]"),
              json::array({"idle", nullptr, false, "", c.footer, false, false, "Record"}));
    click("#recordBtn");  // the record button works again
    starts += 2;
    EXPECT_EQ(posted("start_recording", starts).size(), starts);
    run(page::recordingAbandoned());
  }
}

TEST_F(UiPage, markup_in_a_transcript_shows_as_text_and_runs_nothing) {
  const std::string markup =
      "<img src=x onerror=\"window.owned=1\"><script>window.owned=2</script>";
  dictate("raw <b>bold</b>", markup);
  EXPECT_EQ(text("resultText"), markup);
  EXPECT_EQ(text("rawText"), "raw <b>bold</b>");
  EXPECT_EQ(js("document.querySelector('#historyList .hist-text').textContent"), markup);
  EXPECT_EQ(js("document.querySelectorAll('img, b, #resultText *').length"), 0);
  page.settle();
  EXPECT_EQ(js("window.owned === undefined"), true);
}

TEST_F(UiPage, the_mode_is_kept_and_sent_with_stop_and_retry_and_a_retry_replaces_its_entry) {
  click("[data-mode=Verbatim]");
  ASSERT_TRUE(page.load(true));
  EXPECT_EQ(js("document.querySelector('[data-mode=Verbatim]').getAttribute('aria-checked')"),
            "true");
  page.messages.clear();
  run(page::toggleState(false) + page::toggleState(true));
  EXPECT_EQ(posted("stop_recording")[0]["mode"], "Verbatim");
  run(page::showRawAndStartPolish("keep it's", "Verbatim") +
      page::updateResult("keep it's", "keep it's", "Verbatim", "no connection"));
  EXPECT_EQ(text("footerStatus"), "Not polished: no connection");
  run(page::historyNotSaved());
  EXPECT_EQ(text("footerStatus"), "Not polished: no connection The history could not be saved.");
  click("#retryBtn");
  EXPECT_EQ(posted("retry_polish")[0],
            json({{"action", "retry_polish"}, {"raw", "keep it's"}, {"mode", "Verbatim"}}));
  EXPECT_EQ(js("processing.classList.contains('show')"), true);
  run(page::updateResult("keep it's", "Keep it.", "Verbatim"));
  EXPECT_EQ(js("[resultText.textContent, footerStatus.textContent, history.length, "
               "history[0].polished]"),
            json::array({"Keep it.", "Done.", 1, "Keep it."}));
}

TEST_F(UiPage, the_edit_section_applies_dictated_instructions_and_reports_errors) {
  dictate("send the report friday", "Send the report on Friday.");
  click("#editMicBtn");
  click("#editMicBtn");
  EXPECT_EQ(posted("start_edit_recording").size() + posted("stop_edit_recording").size(), 2u);
  run(page::resolveEditRecord(json({{"text", "make it 'formal' \\ polite"}}).dump()));
  ASSERT_TRUE(
      runUntil([&] { return js("editInstruction.value") == "make it 'formal' \\ polite"; }));
  click("#editApplyBtn");
  // Enter in the field obeys the same rule as the button: one request at a time.
  run("editInstruction.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'}))");
  page.settle();
  EXPECT_EQ(posted("llm_edit"),
            std::vector<json>{json({{"action", "llm_edit"},
                                    {"text", "Send the report on Friday."},
                                    {"instruction", "make it 'formal' \\ polite"},
                                    {"request_id", 1}})});
  run(page::resolveLlmEditResult("Kindly send it.", 1));
  ASSERT_TRUE(runUntil([&] { return text("resultText") == "Kindly send it."; }));
  EXPECT_EQ(js("history[0].polished"), "Kindly send it.");
  click("#editApplyBtn");
  posted("llm_edit", 2);
  run(page::resolveLlmEditError("can't reach:\n\\\\host"));
  EXPECT_TRUE(
      runUntil([&] { return text("footerStatus") == "Edit failed: can't reach:\n\\\\host"; }));
  EXPECT_EQ(text("resultText"), "Kindly send it.");
  click("#editMicBtn");
  click("#editMicBtn");
  run(page::resolveEditRecord("{\"error\":\"No speech detected\"}"));
  EXPECT_TRUE(runUntil([&] { return text("footerStatus") == "Edit failed: No speech detected"; }));
}

TEST_F(UiPage, one_capture_at_a_time_the_other_control_is_off) {
  run(page::toggleState(false));
  EXPECT_EQ(js("editMicBtn.disabled"), true);
  click("#editMicBtn");
  run(page::toggleState(true) + page::noSpeechReset());
  click("#editMicBtn");
  EXPECT_EQ(js("recordBtn.disabled"), true);
  run(page::toggleState(false));  // F6 while the instruction has the microphone
  click("#editMicBtn");
  EXPECT_EQ(js("recordBtn.disabled"), false);
  page.settle();
  Lines actions;
  for (const json& m : page.messages) actions.push_back(m.value("action", ""));
  EXPECT_EQ(actions, (Lines{"start_recording", "stop_recording", "start_edit_recording",
                            "stop_edit_recording"}));
}

TEST_F(UiPage, history_entries_show_again_delete_and_stay_capped) {
  json many = json::array();
  for (int i = 0; i < 200; ++i) {
    many.push_back({{"raw", "raw " + std::to_string(i)},
                    {"polished", "text " + std::to_string(i)},
                    {"mode", "Extract"},
                    {"time", 1765000000000 - i * 60000}});
  }
  run(page::injectHistory(many.dump()));
  click("#tab-history");
  click("#historyList li:nth-child(3) .hist-open");
  EXPECT_EQ(js("[rawText.textContent, resultText.textContent, $('panel-dictate').hidden]"),
            json::array({"raw 2", "text 2", false}));
  click("#historyList li:nth-child(1) .icon-btn");
  EXPECT_EQ(js("[history.length, history[0].raw]"), json::array({199, "raw 1"}));
  EXPECT_EQ(json::parse(posted("save_history")[0]["data"].get<std::string>()).size(), 199u);
  dictate("newest", "Newest.");
  dictate("newer still", "Newer still.");
  EXPECT_EQ(js("[history.length, history[0].raw, history[199].raw]"),
            json::array({200, "newer still", "raw 198"}));
}

TEST_F(UiPage, both_languages_translate_every_text) {
  EXPECT_EQ(js("Object.keys(I18N.en).filter(k => !(k in I18N.zh)).concat("
               "Object.keys(I18N.zh).filter(k => !(k in I18N.en)))"),
            json::array());
  run(page::setLanguage("zh"));
  EXPECT_EQ(js("[recordLabel.textContent, _('error_no_speech'), document.documentElement.lang, "
               "Array.from(document.querySelectorAll('[data-i18n]')).filter(e => "
               "!e.textContent).length]"),
            json::array({"开始录音", "未检测到语音。", "zh-CN", 0}));
  run(page::setLanguage("en"));
  EXPECT_EQ(text("recordLabel"), "Record");
}

TEST_F(UiPage, every_control_has_an_accessible_name_and_keys_move_choices) {
  EXPECT_EQ(js("Array.from(document.querySelectorAll('button, input')).filter(e => "
               "!(e.getAttribute('aria-label') || e.textContent.trim() || (e.labels && "
               "e.labels.length))).map(e => e.id || e.className)"),
            json::array());
  const std::string key =
      "document.activeElement.dispatchEvent(new KeyboardEvent('keydown', "
      "{bubbles: true, key: ";
  run("document.querySelector('[data-mode=Extract]').focus(); " + key + "'ArrowRight'}))");
  EXPECT_EQ(js("[document.activeElement.dataset.mode, mode]"),
            json::array({"Verbatim", "Verbatim"}));
  run("$('tab-dictate').focus(); " + key + "'End'}))");
  EXPECT_EQ(js("[$('panel-usage').hidden, $('panel-dictate').hidden]"), json::array({false, true}));
}

TEST_F(UiPage, the_copy_button_puts_the_result_on_the_clipboard) {
  dictate("raw words", "Polished \"words\" it's");
  const json box =
      js("(r => [r.x + r.width / 2, r.y + r.height / 2])("
         "copyResultBtn.getBoundingClientRect())");
  page.clickAt(box[0].get<double>(), box[1].get<double>());
  EXPECT_TRUE(runUntil([&] { return text("footerStatus") == "Copied to the clipboard."; }))
      << text("footerStatus");
  EXPECT_EQ(page.clipboardText(), "Polished \"words\" it's");
}

}  // namespace
}  // namespace quorvel::testing
