#include "playlist/AnswerRecorder.h"

namespace {

AnswerRecorderFactory &factory()
{
    static AnswerRecorderFactory f;
    return f;
}

} // namespace

std::unique_ptr<AnswerRecorder> makeWaveRecorderAdapter(QObject *owner);

std::unique_ptr<AnswerRecorder> createAnswerRecorder(QObject *owner)
{
    if (factory())
        return factory()(owner);
    return makeWaveRecorderAdapter(owner);
}

AnswerRecorderFactory setAnswerRecorderFactory(AnswerRecorderFactory f)
{
    AnswerRecorderFactory old = std::move(factory());
    factory() = std::move(f);
    return old;
}
