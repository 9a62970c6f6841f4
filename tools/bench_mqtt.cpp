// The transport's figures against loopback mosquitto brokers (scripts/bench starts them):
//   bench_mqtt PORT0 PORT1            runs everything and prints the figures
//   bench_mqtt send PORT0 PORT1 MODE  (internal) the other client: MODE "latency" publishes
//                                     1,000 time-stamped messages, "flood" 50,000 at once
// Latency is from mqtt_publish in one process to MSG_MQTT_EVENT handled in the other, both
// with the program's own client; a port of 0 leaves that link unconnected.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/messages.h"
#include "net/mqtt.h"
#include "bench_common.h"
#include "program_home.h"

static LARGE_INTEGER g_frequency;

static double now_ms(void) {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)g_frequency.QuadPart;
}

static std::vector<double> g_latency;
static int g_received;
static int g_connected;
static double g_first_at, g_last_at;

static LRESULT CALLBACK receiver_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != MSG_MQTT_EVENT) return DefWindowProcW(window, message, wparam, lparam);
    MqttEvent* event = (MqttEvent*)wparam;
    double now = now_ms();
    if (event->kind == MQTT_EVENT_CONNECTED) g_connected++;
    if (event->kind == MQTT_EVENT_MESSAGE) {
        if (g_received == 0) g_first_at = now;
        g_last_at = now;
        g_received++;
        if (event->payload[0] == 'L') g_latency.push_back(now - atof(event->payload + 1));
    }
    mqtt_event_free(wparam);
    return 0;
}

static HWND make_window(void) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = receiver_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NelvoBenchMqtt";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

static bool start_client(HWND window, int port0, int port1, const char* seed) {
    // An unconnected link knocks on a port where nothing listens.
    mqtt_set_broker(0, "127.0.0.1", (unsigned short)(port0 ? port0 : 1));
    mqtt_set_broker(1, "127.0.0.1", (unsigned short)(port1 ? port1 : 1));
    g_connected = 0;
    if (!mqtt_start(window, MSG_MQTT_EVENT, seed)) return false;
    int wanted = (port0 ? 1 : 0) + (port1 ? 1 : 0);
    DWORD start = GetTickCount();
    while (g_connected < wanted && GetTickCount() - start < 10000) pump_for(10);
    return g_connected >= wanted;
}

static int sender(int port0, int port1, const char* mode) {
    HWND window = make_window();
    if (!start_client(window, port0, port1, "sender")) return 1;
    pump_for(500);  // the receiver subscribes meanwhile
    if (strcmp(mode, "latency") == 0) {
        for (int i = 0; i < 1000; i++) {
            char payload[64];
            snprintf(payload, sizeof payload, "L%.4f", now_ms());
            mqtt_publish("nelvo/bench/latency", payload);
            pump_for(3);
        }
    } else {
        // As fast as a broker can be fed: every message in one burst on a socket of our own.
        std::string burst;
        for (int i = 0; i < 50000; i++) {
            char payload[32];
            int n = snprintf(payload, sizeof payload, "F%d", i);
            uint8_t packet[64];
            int length = mqtt_build_publish(packet, sizeof packet, "nelvo/bench/flood", payload, n, 0);
            burst.append((const char*)packet, (size_t)length);
        }
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons((u_short)port0);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        uint8_t connect_packet[64], ack[4];
        int n = mqtt_build_connect(connect_packet, sizeof connect_packet, "flooder");
        if (connect(s, (sockaddr*)&a, sizeof a) == 0 && send(s, (const char*)connect_packet, n, 0) == n &&
            recv(s, (char*)ack, 4, MSG_WAITALL) == 4) {
            for (size_t at = 0; at < burst.size();) {
                int sent = send(s, burst.data() + at, (int)(burst.size() - at), 0);
                if (sent <= 0) break;
                at += (size_t)sent;
            }
        }
        Sleep(2000);
        closesocket(s);
    }
    pump_for(1000);
    mqtt_stop();
    return 0;
}

static HANDLE run_sender(int port0, int port1, const char* mode) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t line[600];
    swprintf(line, 600, L"\"%ls\" send %d %d %hs", exe, port0, port1, mode);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

static void latency_run(HWND window, int port0, int port1, const char* label) {
    if (!start_client(window, port0, port1, "receiver")) {
        printf("%s: the client did not connect\n", label);
        return;
    }
    mqtt_subscribe("nelvo/bench/latency");
    g_latency.clear();
    g_received = 0;
    HANDLE child = run_sender(port0, port1, "latency");
    while (child && WaitForSingleObject(child, 0) == WAIT_TIMEOUT) pump_for(5);
    pump_for(500);
    if (child) CloseHandle(child);
    mqtt_stop();
    std::sort(g_latency.begin(), g_latency.end());
    if (g_latency.empty()) {
        printf("%s: nothing arrived\n", label);
        return;
    }
    printf("%s: %zu of 1000 delivered, latency median %.2f ms, 99th percentile %.2f ms, longest %.2f ms\n", label,
           g_latency.size(), g_latency[g_latency.size() / 2], g_latency[g_latency.size() * 99 / 100], g_latency.back());
}

static void flood_run(HWND window, int port0) {
    if (!start_client(window, port0, 0, "receiver")) return;
    mqtt_subscribe("nelvo/bench/flood");
    g_received = 0;
    HANDLE child = run_sender(port0, 0, "flood");
    while (child && WaitForSingleObject(child, 0) == WAIT_TIMEOUT) pump_for(5);
    pump_for(1000);
    if (child) CloseHandle(child);
    mqtt_stop();
    double seconds = (g_last_at - g_first_at) / 1000.0;
    printf("burst of 50,000 messages through one broker: %d delivered in %.2f s = %.0f messages/s\n", g_received,
           seconds, seconds > 0 ? g_received / seconds : 0.0);
}

int wmain(int argc, wchar_t** argv) {
    program_home_enter(L"bench-mqtt");
    QueryPerformanceFrequency(&g_frequency);
    if (argc >= 5 && wcscmp(argv[1], L"send") == 0) {
        char mode[16];
        snprintf(mode, sizeof mode, "%ls", argv[4]);
        return sender(_wtoi(argv[2]), _wtoi(argv[3]), mode);
    }
    if (argc < 3) {
        printf("usage: bench_mqtt PORT0 PORT1\n");
        return 2;
    }
    int port0 = _wtoi(argv[1]), port1 = _wtoi(argv[2]);
    HWND window = make_window();
    latency_run(window, port0, 0, "through one broker");
    latency_run(window, port0, port1, "through two brokers");
    flood_run(window, port0);
    printf("heap per incoming PUBLISH: its body + 1 bytes (at most 4000), freed once read; per event: %zu bytes\n",
           sizeof(MqttEvent));
    return 0;
}
