#include "xping.h"

#include "bench.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <xcb/xcb.h>

namespace {

quint32 atom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name), nullptr);
    const quint32 result = reply ? reply->atom : 0;
    std::free(reply);
    return result;
}

xcb_window_t rootOf(xcb_connection_t *connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

} // namespace

PingProbe::PingProbe(quint32 window)
    : m_window(window)
{
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection))
        return;
    m_protocols = atom(m_connection, "WM_PROTOCOLS");
    m_ping = atom(m_connection, "_NET_WM_PING");
    // The client answers by sending the ping to the root window: Qt 5 for structure listeners,
    // the window manager's way for substructure ones.
    const quint32 mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, rootOf(m_connection), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection);
    m_thread = std::thread(&PingProbe::run, this);
}

PingProbe::~PingProbe()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    xcb_disconnect(m_connection);
}

std::vector<double> PingProbe::roundTripsMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<double> all = m_roundTrips;
    if (m_waiting)
        all.push_back(waitingMs());
    return all;
}

double PingProbe::waitingMs() const
{
    return m_waiting ? double(monotonicNs() - m_sentNs) / 1e6 : 0;
}

void PingProbe::run()
{
    for (quint32 serial = 1; !m_stopping; ++serial) {
        xcb_client_message_event_t ping {};
        ping.response_type = XCB_CLIENT_MESSAGE;
        ping.format = 32;
        ping.window = m_window;
        ping.type = m_protocols;
        ping.data.data32[0] = m_ping;
        ping.data.data32[1] = serial; // the timestamp field, which the answer carries back
        ping.data.data32[2] = m_window;
        const qint64 sent = monotonicNs();
        m_sentNs = sent;
        m_waiting = true;
        xcb_send_event(m_connection, 0, m_window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&ping));
        xcb_flush(m_connection);
        if (!awaitReply(serial))
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_roundTrips.push_back(double(monotonicNs() - sent) / 1e6);
            m_waiting = false;
        }
        const qint64 next = sent + 10000000 - monotonicNs();
        if (next > 0)
            std::this_thread::sleep_for(std::chrono::nanoseconds(next));
    }
}

bool PingProbe::awaitReply(quint32 serial)
{
    const int fd = xcb_get_file_descriptor(m_connection);
    while (!m_stopping && !xcb_connection_has_error(m_connection)) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
            const bool answer = (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE
                && message->type == m_protocols && message->data.data32[0] == m_ping
                && message->data.data32[1] == serial;
            std::free(event);
            if (answer)
                return true;
        }
        pollfd readable { fd, POLLIN, 0 };
        ::poll(&readable, 1, 50);
    }
    return false;
}

bool windowManagerRunning()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    bool running = false;
    if (!xcb_connection_has_error(connection)) {
        const quint32 check = atom(connection, "_NET_SUPPORTING_WM_CHECK");
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, rootOf(connection), check, XCB_ATOM_WINDOW, 0, 1),
            nullptr);
        running = reply && xcb_get_property_value_length(reply) > 0;
        std::free(reply);
    }
    xcb_disconnect(connection);
    return running;
}
