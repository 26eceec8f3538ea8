// Compiled only by the layer tests: the link layer reaching up into settings.
#include "link/recorder_link.h"
#include "settings/recorder_model.h"

int LayerProbe() { return sizeof(lyr::RecorderModel) > 0 ? 1 : 0; }
