// Dictation with a transcription server configured: the session keeps its audio, posts it at
// stop and delivers the server's transcript, or falls back to the local final on a failure or
// when no answer comes in time.
#include "speech/engine_harness.h"

// Two blocks dictated with a server configured, stopped in a mode without a prompt.
#define SERVER(locale)                                                                    \
  "config {\"transcription_url\": \"https://stt.example/t\", \"transcription_api_key\": " \
  "\"sk-stt\", \"speech_locale\": \"" locale "\"} | new | start | push | push | stop Verbatim | "
#define FAILED "httpfail refused | page alert('Transcription server failed: refused"

ENGINE_SCENES(
    ServerTranscription,
    {"posts_the_captured_audio_once_and_delivers_the_server_transcript",
     SERVER(
         "en-US") "sent 1 | final local | nopage Polish('local | httpreply 200 {\"text\":\" "
                  "Server words. \"} | page Polish('Server words.','Verbatim') | sent 1 | "
                  "nolog sk-stt | start | push | stop | final local | advance 10.3 | log no answer "
                  "within 10 s | page Polish('local'"},
    {"a_failure_falls_back_to_the_local_final_also_when_it_comes_later",
     SERVER("en-US") "final local | " FAILED "; the local transcript is used.') | page "
                     "Polish('local' | start | push | stop Verbatim | " FAILED ".') | nopage "
                     "Polish | final later | page Polish('later'"},
    {"a_language_without_a_local_recogniser_records_for_the_server",
     SERVER("de-DE") "nopage not available | page Listening | body "
                     "name=\"language\"\r\n\r\nde\r\n | httpreply 200 {\"text\":\"Guten Tag.\"} | "
                     "page Polish('Guten Tag.'"});
