// The table of built-in modules, by name.
#include <hack/BuiltInModules.h>

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
