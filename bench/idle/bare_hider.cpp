// The floor of hiding the pointer: a bare xcb loop that takes every raw
// motion event, hides the pointer on every screen exactly the idle time
// after the last one and shows it on the next. No position reads, no jitter
// radius, no settings: the least a pointer hider can do.
// Usage: bench_idle_bare_hider IDLE_MILLISECONDS

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <chrono>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <poll.h>

int main(int argc, char *argv[])
{
    using Clock = std::chrono::steady_clock;
    const std::chrono::milliseconds idle(argc > 1 ? std::atoi(argv[1]) : 1000);
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    std::free(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    const xcb_query_extension_reply_t *xi = xcb_get_extension_data(c, &xcb_input_id);
    if (!xi || !xi->present)
        return 1;

    std::vector<xcb_window_t> roots;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it))
        roots.push_back(it.data->root);
    struct
    {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
    for (const xcb_window_t root : roots)
        xcb_input_xi_select_events(c, root, 1, &selection.head);
    xcb_flush(c);

    bool hidden = false;
    Clock::time_point deadline = Clock::now() + idle;
    for (;;) {
        int timeout = -1;
        if (!hidden)
            timeout = int(std::max<long long>(
                0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
        pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&descriptor, 1, timeout);
        while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
            const bool motion = (event->response_type & 0x7f) == XCB_GE_GENERIC
                && reinterpret_cast<xcb_ge_generic_event_t *>(event)->extension == xi->major_opcode
                && reinterpret_cast<xcb_ge_generic_event_t *>(event)->event_type == XCB_INPUT_RAW_MOTION;
            std::free(event);
            if (!motion)
                continue;
            deadline = Clock::now() + idle;
            if (hidden) {
                for (const xcb_window_t root : roots)
                    xcb_xfixes_show_cursor(c, root);
                xcb_flush(c);
                hidden = false;
            }
        }
        if (xcb_connection_has_error(c))
            return 0;
        if (!hidden && Clock::now() >= deadline) {
            for (const xcb_window_t root : roots)
                xcb_xfixes_hide_cursor(c, root);
            xcb_flush(c);
            hidden = true;
        }
    }
}
