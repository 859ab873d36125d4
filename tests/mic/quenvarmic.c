/*
 * A virtual microphone for the tests: an alsa-lib capture plugin that
 * delivers a steady two-tone signal at the pace of a real sound card
 * (alsa-lib's own null and file plugins deliver as fast as they are read,
 * which makes every recording far longer than the time it took).
 *
 * Tests load it through ALSA_CONFIG_PATH with a configuration such as
 *     pcm_type.quenvarmic { lib "/path/libasound_module_pcm_quenvarmic.so" }
 *     pcm.!default { type quenvarmic }
 * (testutil::VirtualMicrophone writes one).
 *
 * It accepts signed 16-bit interleaved capture at 8000-48000 Hz, one or two
 * channels. The position follows CLOCK_MONOTONIC from the start; a reader
 * that falls more than a buffer behind loses nothing but time (the position
 * waits for it), so a slow test machine records shorter, never garbled,
 * sound. Poll readiness comes from a timerfd that ticks once per period.
 */

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

typedef struct {
    snd_pcm_ioplug_t io;
    int timer;
    struct timespec started;
    int running;
    uint64_t produced; /* frames handed to the reader since prepare */
    double phase[2];
} mic_t;

static uint64_t elapsed_frames(const mic_t *mic)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double secs = (double)(now.tv_sec - mic->started.tv_sec) + (now.tv_nsec - mic->started.tv_nsec) / 1e9;
    return secs <= 0 ? 0 : (uint64_t)(secs * mic->io.rate);
}

/* Frames the device has captured by now: real time, but never more than a
   buffer ahead of the reader. */
static uint64_t captured_frames(const mic_t *mic)
{
    if (!mic->running)
        return mic->produced;
    uint64_t frames = elapsed_frames(mic);
    const uint64_t limit = (uint64_t)mic->io.appl_ptr + mic->io.buffer_size - 1;
    return frames > limit ? limit : frames;
}

static int mic_arm(mic_t *mic, int on)
{
    struct itimerspec when;
    memset(&when, 0, sizeof when);
    if (on) {
        const long ns = (long)(1e9 * (double)mic->io.period_size / mic->io.rate);
        when.it_interval.tv_sec = ns / 1000000000L;
        when.it_interval.tv_nsec = ns % 1000000000L;
        when.it_value = when.it_interval;
    }
    return timerfd_settime(mic->timer, 0, &when, NULL) < 0 ? -errno : 0;
}

static int mic_start(snd_pcm_ioplug_t *io)
{
    mic_t *mic = io->private_data;
    clock_gettime(CLOCK_MONOTONIC, &mic->started);
    /* The clock counts from the frames already delivered. */
    const double back = (double)mic->produced / io->rate;
    mic->started.tv_sec -= (time_t)back;
    mic->started.tv_nsec -= (long)((back - (double)(time_t)back) * 1e9);
    if (mic->started.tv_nsec < 0) {
        mic->started.tv_nsec += 1000000000L;
        mic->started.tv_sec -= 1;
    }
    mic->running = 1;
    return mic_arm(mic, 1);
}

static int mic_stop(snd_pcm_ioplug_t *io)
{
    mic_t *mic = io->private_data;
    mic->running = 0;
    return mic_arm(mic, 0);
}

static snd_pcm_sframes_t mic_pointer(snd_pcm_ioplug_t *io)
{
    const mic_t *mic = io->private_data;
    return (snd_pcm_sframes_t)(captured_frames(mic) % io->buffer_size);
}

static snd_pcm_sframes_t mic_transfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
                                      snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    mic_t *mic = io->private_data;
    static const double freq[2] = {300.0, 450.0};
    for (unsigned c = 0; c < io->channels && c < 2; ++c) {
        const snd_pcm_channel_area_t *a = &areas[c];
        double phase = mic->phase[c];
        const double step = 2 * M_PI * freq[c] / io->rate;
        for (snd_pcm_uframes_t i = 0; i < size; ++i) {
            int16_t *sample = (int16_t *)((char *)a->addr + (a->first + a->step * (offset + i)) / 8);
            *sample = (int16_t)(8000.0 * sin(phase));
            phase += step;
            if (phase > 2 * M_PI)
                phase -= 2 * M_PI;
        }
        mic->phase[c] = phase;
    }
    mic->produced += size;
    return (snd_pcm_sframes_t)size;
}

static int mic_prepare(snd_pcm_ioplug_t *io)
{
    mic_t *mic = io->private_data;
    mic->running = 0;
    mic->produced = 0;
    return mic_arm(mic, 0);
}

static int mic_poll_revents(snd_pcm_ioplug_t *io, struct pollfd *pfd, unsigned int nfds, unsigned short *revents)
{
    (void)pfd;
    (void)nfds;
    mic_t *mic = io->private_data;
    uint64_t ticks;
    while (read(mic->timer, &ticks, sizeof ticks) > 0) {
    }
    const uint64_t captured = captured_frames(mic);
    const uint64_t avail = captured > io->appl_ptr ? captured - io->appl_ptr : 0;
    /* Ready once a period has been captured; the timer only wakes poll. */
    *revents = avail >= io->period_size ? POLLIN : 0;
    return 0;
}

static int mic_close(snd_pcm_ioplug_t *io)
{
    mic_t *mic = io->private_data;
    close(mic->timer);
    free(mic);
    return 0;
}

static const snd_pcm_ioplug_callback_t mic_callbacks = {
    .start = mic_start,
    .stop = mic_stop,
    .pointer = mic_pointer,
    .transfer = mic_transfer,
    .close = mic_close,
    .prepare = mic_prepare,
    .poll_revents = mic_poll_revents,
};

static int mic_constrain(snd_pcm_ioplug_t *io)
{
    static const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED, SND_PCM_ACCESS_MMAP_INTERLEAVED};
    static const unsigned format[] = {SND_PCM_FORMAT_S16_LE};
    int err;
    if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 2, access)) < 0
        || (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, format)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 8000, 48000)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 256, 65536)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0)
        return err;
    return 0;
}

SND_PCM_PLUGIN_DEFINE_FUNC(quenvarmic)
{
    (void)root;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t *n = snd_config_iterator_entry(i);
        const char *id;
        if (snd_config_get_id(n, &id) < 0)
            continue;
        if (strcmp(id, "comment") == 0 || strcmp(id, "type") == 0 || strcmp(id, "hint") == 0)
            continue;
        SNDERR("Unknown field %s", id);
        return -EINVAL;
    }
    if (stream != SND_PCM_STREAM_CAPTURE)
        return -ENODEV;

    mic_t *mic = calloc(1, sizeof *mic);
    if (!mic)
        return -ENOMEM;
    mic->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (mic->timer < 0) {
        const int err = -errno;
        free(mic);
        return err;
    }
    mic->io.version = SND_PCM_IOPLUG_VERSION;
    mic->io.name = "Virtual microphone";
    mic->io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC;
    mic->io.poll_fd = mic->timer;
    mic->io.poll_events = POLLIN;
    mic->io.mmap_rw = 0;
    mic->io.callback = &mic_callbacks;
    mic->io.private_data = mic;

    int err = snd_pcm_ioplug_create(&mic->io, name, stream, mode);
    if (err < 0) {
        close(mic->timer);
        free(mic);
        return err;
    }
    if ((err = mic_constrain(&mic->io)) < 0) {
        snd_pcm_ioplug_delete(&mic->io);
        return err;
    }
    *pcmp = mic->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(quenvarmic);
