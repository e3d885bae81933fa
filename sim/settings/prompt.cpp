#include "sim/settings/prompt.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>
#include <cstdlib>
#include <iostream>
#include <memory>

#include <readline/history.h>
#include <readline/readline.h>

namespace vantrel::sim {
namespace {

constexpr size_t kMaxLine = size_t{64} * 1024;

// readline's callback takes no context: the one prompt of the process.
struct PromptState {
    platform::SdEventRunLoop* loop;
    const LineHandler* handle;
    const Completer* complete;
};
PromptState* activePrompt = nullptr;

std::vector<std::string> candidates;

char* nextCandidate(const char*, int state) {
    static size_t next = 0;
    if (state == 0) next = 0;
    return next < candidates.size() ? ::strdup(candidates[next++].c_str()) : nullptr;
}

// Tab: the words before the cursor's word, then that word, to the program's own completer.
char** completeWord(const char* text, int start, int) {
    rl_attempted_completion_over = 1;  // no file names unless the completer asks for them
    if (!activePrompt || !activePrompt->complete || !*activePrompt->complete) return nullptr;
    std::vector<std::string> words;
    std::istringstream before(std::string(rl_line_buffer, static_cast<size_t>(std::max(start, 0))));
    for (std::string w; before >> w;) words.push_back(w);
    words.emplace_back(text);
    candidates = (*activePrompt->complete)(words);
    if (!candidates.empty() && candidates.front().starts_with('@')) {
        rl_attempted_completion_over = 0;  // readline's own file names
        return nullptr;
    }
    return rl_completion_matches(text, nextCandidate);
}

void lineEntered(char* raw) {
    std::unique_ptr<char, decltype(&std::free)> text(raw, &std::free);
    if (!text) {  // Ctrl-D
        rl_callback_handler_remove();
        std::cout << "\n";
        activePrompt->loop->exit(0);
        return;
    }
    if (*text) add_history(text.get());
    bool goOn = (*activePrompt->handle)(text.get());
    std::cout.flush();
    if (!goOn) {
        rl_callback_handler_remove();  // no prompt again after the last line
        activePrompt->loop->exit(0);
    }
}

// Installs readline's handler for the prompt's life, and takes it away (restoring the terminal).
class CallbackHandler {
public:
    CallbackHandler(const std::string& prompt, PromptState* state) {
        activePrompt = state;
        rl_attempted_completion_function = completeWord;
        rl_callback_handler_install(prompt.c_str(), lineEntered);
    }
    ~CallbackHandler() {
        rl_callback_handler_remove();
        activePrompt = nullptr;
    }
    CallbackHandler(const CallbackHandler&) = delete;
    CallbackHandler& operator=(const CallbackHandler&) = delete;
};

}  // namespace

void runLines(platform::SdEventRunLoop& loop, const LineHandler& handle, const std::function<void()>& refused) {
    std::string buffer;
    bool discarding = false;
    loop.watchInput(STDIN_FILENO, [&] {
        char chunk[4096];
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            loop.exit(0);
            return;
        }
        buffer.append(chunk, static_cast<size_t>(n));
        size_t nl;
        while ((nl = buffer.find('\n')) != std::string::npos) {
            std::string line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            if (discarding || line.size() > kMaxLine) {
                discarding = false;
                std::cout << "the line is longer than " << kMaxLine << " bytes\nerror\n";
                std::cout.flush();
                refused();
                continue;
            }
            if (!handle(line)) {
                loop.exit(0);
                return;
            }
        }
        if (buffer.size() > kMaxLine) {
            buffer.clear();
            discarding = true;
        }
    });
    loop.run();
}

void runPrompt(platform::SdEventRunLoop& loop, const std::string& prompt, const LineHandler& handle, const Completer& complete) {
    PromptState state{&loop, &handle, &complete};
    CallbackHandler installed(prompt, &state);
    loop.watchInput(STDIN_FILENO, [] { rl_callback_read_char(); });
    loop.run();
}

}  // namespace vantrel::sim
