#include "playlist/AnswerRecorder.h"

#include <stdexcept>

// FIXME(playlist): replaced by the adapter over TMMWaveRecorder once the
// recorder is merged; until then a recording cannot start.
std::unique_ptr<AnswerRecorder> makeWaveRecorderAdapter(QObject *)
{
    class Unavailable : public AnswerRecorder
    {
    public:
        void setFileName(const QString &p) override { m_file = p; }
        QString fileName() const override { return m_file; }
        void Start() override
        {
            if (!m_file.isEmpty())
                throw std::runtime_error("No wave audio recording device found");
        }
        void Stop() override {}
        bool recording() const override { return false; }

    private:
        QString m_file;
    };
    return std::make_unique<Unavailable>();
}
