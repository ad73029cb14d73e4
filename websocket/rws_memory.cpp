// Memory, text, list and diagnostic helpers of the WebSocket client. Running out of memory is not
// recovered from: it stops the process with a failed-assertion diagnostic.
#include "rws_private.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void rws_assert_failed(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

namespace {
std::atomic<void (*)(const char *)> log_hook{nullptr};
}

void rws_set_log(void (*hook)(const char *line)) { log_hook = hook; }

void rws_log(const char *format, ...)
{
    void (*hook)(const char *) = log_hook;
    if (hook == nullptr)
        return;
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    hook(line);
}

void *rws_alloc(size_t size)
{
    if (size == 0)
        return nullptr;
    void *mem = std::malloc(size);
    RWS_CHECK(mem);
    return mem;
}

void *rws_alloc_zeroed(size_t size)
{
    void *mem = rws_alloc(size);
    if (mem)
        std::memset(mem, 0, size);
    return mem;
}

void rws_release(void *block) { std::free(block); }

void rws_release_text(char **field)
{
    rws_release(*field);
    *field = nullptr;
}

char *rws_copy_text(const char *text)
{
    if (text == nullptr || text[0] == '\0')
        return nullptr;
    return rws_copy_bytes_as_text(text, std::strlen(text));
}

char *rws_copy_bytes_as_text(const void *bytes, size_t count)
{
    if (bytes == nullptr || count == 0)
        return nullptr;
    char *text = static_cast<char *>(rws_alloc(count + 1));
    std::memcpy(text, bytes, count);
    text[count] = '\0';
    return text;
}

// Appends a node holding value at the end; an empty list gets its first node.
void rws_list_append(rws_list **list, rws_packet *value)
{
    rws_list *node = static_cast<rws_list *>(rws_alloc_zeroed(sizeof(rws_list)));
    node->value = value;
    rws_list **end = list;
    while (*end)
        end = &(*end)->next;
    *end = node;
}

void rws_list_free(rws_list *list)
{
    while (list) {
        rws_list *next = list->next;
        rws_release(list);
        list = next;
    }
}

void rws_list_free_packets(rws_list **list)
{
    for (rws_list *node = *list; node; node = node->next) {
        rws_packet_free(node->value);
        node->value = nullptr;
    }
    rws_list_free(*list);
    *list = nullptr;
}
