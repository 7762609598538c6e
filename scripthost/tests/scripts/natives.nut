// Natives of Debug, Engine and Engine.QV from a script run by the SquirrelSupport module: raw values, the
// environment's root, the playing list, refusals raised as script errors that the script catches (the game goes on), and the frame-rate
// limit installed on the module's record, which its unload takes away.
local function attempt(name, f) {
  try {
    f();
    print(name + ": ok\n");
  } catch (e) {
    print(name + ": " + e + "\n");
  }
}
print(format("%x %x %d %d %d %d\n", Engine.GetRawValue(1.0), Engine.GetRawValue(-1), Engine.GetRawValue(null),
             Engine.GetRawValue(-7), Engine.GetRawValue(true), Engine.GetRawValue(false)));
// The environment's root has no process or file functions, nor printf; format and print are there.
print(("system" in getroottable()) + " " + ("remove" in getroottable()) + " " + ("rename" in getroottable()) + " " +
      ("printf" in getroottable()) + " " + format("%d", 7) + " " + ("print" in getroottable()) + "\n");
print(typeof Debug.GetRegistryTable() + " " + Engine.GetPlayingAudioInstances().len() + " " +
      (Debug.GetRegistryTable() == Debug.GetRegistryTable()) + " " + (Engine.GetRawValue({}) != 0) + "\n");
attempt("text above 255", @() Engine.QV.RenderString(0, 0, 0, "A\xFFFF", 0));
attempt("text of bytes", @() Engine.QV.RenderString(0, 0, 0, "ABC\xFF", 0));
attempt("limit 0", @() Engine.SetFPSLimit(0));
attempt("limit -5", @() Engine.SetFPSLimit(-5));
attempt("limit 60", @() Engine.SetFPSLimit(60));
attempt("limit 30", @() Engine.SetFPSLimit(30));
attempt("limit 45", @() Engine.SetFPSLimit(45));
attempt("sleep -1", @() Engine.Sleep(-1));
attempt("sleep 0", @() Engine.Sleep(0));
attempt("sleep 1", @() Engine.Sleep(1));
attempt("sleep of text", @() Engine.Sleep("1"));
attempt("texture index", @() Engine.QVUtil.DrawRectangle(65536 * 3 + 4000, 0, 0, 1, 1));
attempt("texture file", @() Engine.Texture("no such file.png"));
attempt("audio file", @() Engine.AudioInstance("no such file.ogg", false));
local overlong = "/GameDir/" + array(300, "0").reduce(@(a, b) a + b);
attempt("overlong texture path", @() Engine.Texture(overlong));
attempt("overlong audio path", @() Engine.AudioInstance(overlong, false));
attempt("unbound texture", @() Engine.Texture.instance().GetWidth());
attempt("unbound audio", @() Engine.AudioInstance.instance().Play());
attempt("audio on a texture", @() Engine.AudioInstance.Play.call(Engine.Texture.instance()));
print(Engine.QV.PlaySoundEffect(10, 0) + "\n");
// Each frame draws: a 4 by 4 texture magnified 8 times (each texel a square of 8 pixels, red and blue apart), a
// white texture tinted plain and as a corner gradient, turned by 45 degrees about its middle, and one
// half-transparent quad over the rest.
local tile = Engine.Texture("/GameDir/natives-tile.png");
local white = Engine.Texture("/GameDir/natives-white.png");
print(tile.GetWidth() + "x" + tile.GetHeight() + " " + typeof white + "\n");
attempt("texture bound again", @() tile.constructor("/GameDir/natives-tile.png"));
attempt("texture width of a vector", @() Engine.Texture.GetWidth.call(Engine.Vector1D(1)));
attempt("unbound texture height", @() tile.GetHeight.call(Engine.Texture.instance()));
attempt("clone of a texture", @() clone tile);
attempt("texture constructor on a vector",
        @() Engine.Texture.constructor.call(Engine.Vector1D.instance(), "/GameDir/natives-tile.png"));
attempt("audio playing of a vector", @() Engine.AudioInstance.IsPlaying.call(Engine.Vector3D(1, 2, 3)));
Engine.EventSystem.GetEventType("OnRender2D").AddHandler(function(e) {
  local Q = Engine.QVUtil;
  Q.DrawRectangle(tile, 8, 8, 32, 32);
  Q.DrawRectangle(white, 48, 8, 48, 32, 0, 0, 1, 1, 0xFF3366CC, 0xFF3366CC, 0xFF3366CC, 0xFF3366CC);
  Q.DrawRectangle(white, 104, 8, 64, 48, 0, 0, 1, 1, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF);
  Q.DrawRectangle(white, 40, 80, 32, 32, 0, 0, 1, 1, 0xFFFFCC00, 0xFFFFCC00, 0xFFFFCC00, 0xFFFFCC00, 0.5, 0.5,
                  PI / 4);
  Q.DrawRectangle(white, 24, 24, 64, 64, 0, 0, 1, 1, 0x80FFFFFF, 0x80FFFFFF, 0x80FFFFFF, 0x80FFFFFF);
});
