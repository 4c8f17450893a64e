// The fixed system prompts and the polish/edit requests built on them.
#include <map>

#include "polish/deepseek_polisher.h"

namespace quorvel {

namespace {

// Mode names match exactly and case-sensitively; a mode without a prompt is passed through.
const std::map<std::string, std::string>& modePrompts() {
  static const std::map<std::string, std::string> prompts = {
      {"Extract", DeepSeekPolisher::extractionPrompt()}};
  return prompts;
}

nlohmann::json message(const char* role, const std::string& content) {
  return {{"role", role}, {"content", content}};
}

}  // namespace

const std::string& DeepSeekPolisher::extractionPrompt() {
  static const std::string prompt =
      "You are a voice-to-text post-processing assistant. The user spoke something and it was "
      "transcribed. Your task is to extract the core points in the most concise way.\n"
      "\n"
      "Rules:\n"
      "1. Remove all filler words, repetition, hedging, and fluff\n"
      "2. Detect self-corrections ('actually', 'I mean', 'wait no') — keep only the corrected "
      "version\n"
      "3. If there is only ONE point, output a plain sentence with NO bullet point or dash "
      "prefix\n"
      "4. If there are MULTIPLE points, use bullet points (- item)\n"
      "5. CRITICAL: Match the input language — English input → English output, Chinese input → "
      "Chinese output, mixed → mixed\n"
      "6. Do NOT translate. Do NOT add content that wasn't there.\n"
      "\n"
      "Return ONLY the extracted text, no explanations.";
  return prompt;
}

const std::string& DeepSeekPolisher::editPrompt() {
  static const std::string prompt =
      "You are a text editing assistant. The user will provide text and an instruction. Apply "
      "the instruction to the text and return ONLY the edited result, nothing else.";
  return prompt;
}

void DeepSeekPolisher::polish(const std::string& text, const std::string& mode,
                              ChatCompletion completion) const {
  auto prompt = modePrompts().find(mode);
  if (prompt == modePrompts().end()) {
    completion(text, std::nullopt);
    return;
  }
  sendChat({message("system", prompt->second), message("user", text)}, std::move(completion));
}

void DeepSeekPolisher::edit(const std::string& text, const std::string& instruction,
                            ChatCompletion completion) const {
  std::string content = "Text:\n" + text + "\n\nInstruction: " + instruction;
  sendChat({message("system", editPrompt()), message("user", content)}, std::move(completion));
}

}  // namespace quorvel
