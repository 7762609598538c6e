// The table of built-in modules: the product links every module and is the one place that names them all.
#include "BuiltInModules.h"

#include <features/FeatureModules.h>
#include <multiplayer/MultiplayerModule.h>
#include <scripthost/SquirrelSupport.h>

tBuiltInModule g_BuiltInModules[12] = {
    {u"ADPCMSupport", ADPCMSupportModuleHandler},
    {u"AspectRatioSupport", AspectRatioSupportModuleHandler},
    {u"MultipleInstanceSupport", MultipleInstanceSupportModuleHandler},
    {u"BugFixes", BugFixesModuleHandler},
    {u"CustomFiles", CustomFilesModuleHandler},
    {u"IncreasedLimits", IncreasedLimitsModuleHandler},
    {u"Multiplayer", MultiplayerModuleHandler},
    {u"MultiplePlayerSupport", MultiplePlayerSupportModuleHandler},
    {u"NoDrawDistance", NoDrawDistanceModuleHandler},
    {u"OggVorbisSupport", OggVorbisSupportModuleHandler},
    {u"PCMSupport", PCMSupportModuleHandler},
    {u"SquirrelSupport", SquirrelSupportModuleHandler},
};
