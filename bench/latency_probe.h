// Measures how late the event loop serves a 5 ms timer while the window works,
// and prints the lateness figures and the process's peak resident memory.
//
//   CLatencyProbe probe;
//   probe.Start();                 // with the command under test
//   app.exec();
//   probe.Stop();
//   probe.PrintLateness();         // ticks, p50, p99, max (and when it happened)
//   PrintPeakRss();
//
// Thread safety: the user interface thread only.
#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

inline long PeakRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

inline long CurrentRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

inline void PrintPeakRss() {
    std::printf("peak RSS               %.1f MiB\n", static_cast<double>(PeakRssKb()) / 1024.0);
}

class CLatencyProbe {
public:
    static constexpr int kIntervalMs = 5;

    CLatencyProbe() {
        lateness_.reserve(1 << 20);
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(kIntervalMs);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const double late = static_cast<double>(sinceTick_.nsecsElapsed()) / 1e6 - kIntervalMs;
            lateness_.push_back(std::max(0.0, late));
            if (late > worst_) {
                worst_ = late;
                worstAtSeconds_ = static_cast<double>(sinceStart_.elapsed()) / 1000.0;
            }
            sinceTick_.restart();
        });
    }

    void Start() {
        sinceStart_.start();
        sinceTick_.start();
        tick_.start();
    }

    void Stop() {
        tick_.stop();
        std::sort(lateness_.begin(), lateness_.end());
    }

    void PrintLateness() const {
        const auto percentile = [this](double p) {
            if (lateness_.empty()) return 0.0;
            return lateness_[static_cast<std::size_t>(p * static_cast<double>(lateness_.size() - 1))];
        };
        std::printf("timer ticks            %zu\n", lateness_.size());
        std::printf("lateness p50           %.2f ms\n", percentile(0.50));
        std::printf("lateness p99           %.2f ms\n", percentile(0.99));
        std::printf("lateness max           %.2f ms (at %.2f s)\n", lateness_.empty() ? 0.0 : lateness_.back(),
                    worstAtSeconds_);
    }

private:
    QTimer tick_;
    QElapsedTimer sinceStart_;
    QElapsedTimer sinceTick_;
    std::vector<double> lateness_;
    double worst_ = 0;
    double worstAtSeconds_ = 0;
};
