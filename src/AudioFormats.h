#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The audio files the program opens, for the file dialogs and for the
// library's preview: every format the decoder reads that musicians keep loops
// and samples in.
class AudioFormats
{
    Q_DECLARE_TR_FUNCTIONS(AudioFormats)
public:
    // Lower-case suffixes, without the dot.
    static QStringList suffixes();
    // "Audio files (*.wav ...);;All files (*)": the audio files first, and a
    // way to try any other file.
    static QString openFilter();
    // Whether the name ends in one of the suffixes, in any case.
    static bool isAudioFileName(const QString& fileName);
};
