#include "web/page_calls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quorvel {
namespace {

TEST(EscapeForJS, escapes_apostrophe_backslash_and_line_feed_and_drops_carriage_return) {
  EXPECT_EQ(escapeForJS("it's"), "it\\'s");
  EXPECT_EQ(escapeForJS("a\\b"), "a\\\\b");
  EXPECT_EQ(escapeForJS("one\ntwo"), "one\\ntwo");
  EXPECT_EQ(escapeForJS("one\r\ntwo"), "one\\ntwo");
  EXPECT_EQ(escapeForJS("one\rtwo"), "onetwo");
  EXPECT_EQ(escapeForJS("\\'"), "\\\\\\'");
}

TEST(EscapeForJS, leaves_quotes_tabs_controls_and_line_separators_alone) {
  const std::string text = "\"q\"\t\x01 \xE2\x80\xA8 \xE2\x80\xA9 \xF0\x9F\x91\xA8\xE2\x80\x8D";
  EXPECT_EQ(escapeForJS(text), text);
  EXPECT_EQ(escapeForJS(""), "");
}

TEST(EscapeVariants, usage_variant_makes_pretty_json_one_line) {
  EXPECT_EQ(escapeUsageForJS("{\r\n  \"a\": \"it's \\\\\"\n}"), "{  \"a\": \"it\\'s \\\\\\\\\"}");
}

TEST(EscapeVariants,
     edit_record_variant_keeps_line_breaks_and_apostrophes_only_variant_keeps_backslashes) {
  EXPECT_EQ(escapeBackslashesAndApostrophes("{\"text\":\"it's \\\\ x\"}\n"),
            "{\"text\":\"it\\'s \\\\\\\\ x\"}\n");
  EXPECT_EQ(escapeApostrophes("it's a\\b\n"), "it\\'s a\\b\n");
}

TEST(PageCalls, theme_usage_and_history_injection_texts_are_exact) {
  EXPECT_EQ(page::applyTheme(true), "document.documentElement.classList.add('dark');");
  EXPECT_EQ(page::applyTheme(false), "document.documentElement.classList.remove('dark');");
  EXPECT_EQ(page::injectUsageData("{\n  \"chars_used\" : 5\n}"),
            "window._nativeUsageData = '{  \"chars_used\" : 5}';");
  EXPECT_EQ(page::injectHistory("[{\"raw\":\"it's\\n\"}]\n"),
            "try { history = JSON.parse('[{\"raw\":\"it\\'s\\\\n\"}]\\n'); renderHistory(); } "
            "catch(e) { console.error('history load error', e); }");
  EXPECT_EQ(page::updateUsageFromInjectedData(),
            "try { if(window._nativeUsageData) { updateUsage(JSON.parse(window._nativeUsageData)); "
            "} } catch(e) {}");
}

TEST(PageCalls, result_calls_escape_texts_and_mode_with_the_full_rule) {
  EXPECT_EQ(page::updateResult("it's", "a\nb", "Extract"),
            "updateResult('it\\'s', 'a\\nb', 'Extract');");
  EXPECT_EQ(
      page::showRawAndStartPolish("hello", "Extract"),
      "if(typeof showRawAndStartPolish==='function'){showRawAndStartPolish('hello','Extract');}");
  // A hostile mode stays inside its literal.
  EXPECT_EQ(page::updateResult("", "", "x');alert(1);//"),
            "updateResult('', '', 'x\\');alert(1);//');");
  EXPECT_EQ(page::showRawAndStartPolish("r", "a'\n"),
            "if(typeof showRawAndStartPolish==='function'){showRawAndStartPolish('r','a\\'\\n');}");
}

TEST(PageCalls, edit_answers_use_their_escaping) {
  EXPECT_EQ(page::resolveLlmEditResult("it's\r\nok"),
            "if(window._llmEditResolve) { window._llmEditResolve(JSON.stringify({result: "
            "'it\\'s\\nok'})); window._llmEditResolve = null; }");
  EXPECT_EQ(page::resolveLlmEditError("can't\\reach\nhost"),
            "if(window._llmEditResolve) { window._llmEditResolve(JSON.stringify({error: "
            "'can\\'t\\\\reach\\nhost'})); window._llmEditResolve = null; }");
  EXPECT_EQ(page::resolveEditRecord("{\"text\":\"it's \\\\\"}"),
            "if(window._editRecordResolve) { window._editRecordResolve('{\"text\":\"it\\'s "
            "\\\\\\\\\"}'); window._editRecordResolve = null; }");
  EXPECT_EQ(page::setEditInstruction("make it 'formal'\n"),
            "document.getElementById('editInstruction').value = 'make it \\'formal\\'\\n';");
}

TEST(PageCalls, language_toggle_event_and_error_texts_are_exact) {
  EXPECT_EQ(page::setLanguage("zh"), "setLanguage('zh')");
  EXPECT_EQ(page::toggleState(true), "if(state==='recording') toggleState();");
  EXPECT_EQ(page::toggleState(false), "toggleState();");
  EXPECT_EQ(page::speechResultEvent("go 'forward'"),
            "window.dispatchEvent(new CustomEvent('speech_result', {detail: 'go \\'forward\\''}))");
  EXPECT_EQ(page::nativeError("Mic can't start"),
            "console.error('[Native] Mic can\\'t start'); alert('Mic can\\'t start');");
}

TEST(PageCalls, no_speech_reset_is_the_fixed_eleven_line_script) {
  const std::string& script = page::noSpeechReset();
  EXPECT_EQ(script.size(), 589u);
  EXPECT_EQ(std::count(script.begin(), script.end(), '\n'), 10);
  EXPECT_EQ(script.rfind("    clearInterval(recordingTimer);\n", 0), 0u);
  EXPECT_EQ(script.substr(script.size() - 20), "\n    state = 'idle';");
  EXPECT_NE(script.find("\n    document.getElementById('footerStatus').textContent = "
                        "_('error_no_speech');\n"),
            std::string::npos);
}

}  // namespace
}  // namespace quorvel
