#include "platform/message_box.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
std::atomic<message_box_handler*> g_handler{nullptr};
std::atomic<message_log_sink> g_sink{nullptr};
std::atomic<int> g_default_answer{ANSWER_NO};

__attribute__((format(printf, 1, 0))) std::string format_text(const char* format, va_list ap) {
    char buf[4096];
    vsnprintf(buf, sizeof(buf), format, ap);
    return buf;
}

void headless(const char* kind, const std::string& text) {
    if (message_log_sink sink = g_sink.load()) {
        std::string line = std::string(kind) + ": " + text + "\n";
        sink(line.c_str());
    }
    std::fprintf(stderr, "%s: %s\n", kind, text.c_str());
}
}  // namespace

void set_message_box_handler(message_box_handler* handler) { g_handler.store(handler); }
void set_message_log_sink(message_log_sink sink) { g_sink.store(sink); }
void set_default_answer(int answer) { g_default_answer.store(answer); }

void show_message(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    if (message_box_handler* h = g_handler.load())
        h->show_message(text.c_str());
    else
        headless("message", text);
}

int ask_yes_no(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    if (message_box_handler* h = g_handler.load()) return h->ask_yes_no(text.c_str());
    headless("question", text);
    return g_default_answer.load();
}

int ask_yes_no_cancel(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    if (message_box_handler* h = g_handler.load()) return h->ask_yes_no_cancel(text.c_str());
    headless("question", text);
    return g_default_answer.load();
}

void show_text_message(int id, const std::vector<std::string>& args, const std::string& english) {
    if (message_box_handler* h = g_handler.load())
        h->show_text(id, args, english.c_str());
    else
        headless("message", english);
}

int ask_text_yes_no(int id, const std::vector<std::string>& args, const std::string& english) {
    if (message_box_handler* h = g_handler.load())
        return h->ask_text_yes_no(id, args, english.c_str());
    headless("question", english);
    return g_default_answer.load();
}

int ask_text_yes_no_cancel(int id, const std::vector<std::string>& args,
                           const std::string& english) {
    if (message_box_handler* h = g_handler.load())
        return h->ask_text_yes_no_cancel(id, args, english.c_str());
    headless("question", english);
    return g_default_answer.load();
}
