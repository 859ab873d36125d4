#pragma once

#include "playlist/Unit2.h"

#include <QTimer>

#include <utility>
#include <vector>

// Follows a run in real time: the (FileType, FilePath) of each record the
// runner performs, in order, sampled every ten milliseconds while it lives.
// A record repeated right after itself counts once.
class RunWatch
{
public:
    using Performed = std::vector<std::pair<int, QString>>;

    RunWatch()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const TForm2::RunValues &r = TForm2::runValues();
            const std::pair<int, QString> now{r.fileType, r.filePath};
            if (!r.filePath.isEmpty() && (m_performed.empty() || m_performed.back() != now))
                m_performed.push_back(now);
        });
        m_timer.start();
    }

    [[nodiscard]] const Performed &performed() const { return m_performed; }

private:
    QTimer m_timer;
    Performed m_performed;
};
