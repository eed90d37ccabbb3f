#include "AudioFile.h"

AudioFile::~AudioFile() = default;
