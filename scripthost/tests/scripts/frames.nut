// Frames on the game double: OnProcess comes before OnRender2D in each frame, a handler's error is reported
// with its stack and the handlers after it still run, and prevent-default on OnProcess changes nothing.
local frame = 0;
local es = Engine.EventSystem;
es.GetEventType("OnProcess").AddHandler(function(e) {
  frame++;
  print("process " + frame + "\n");
  e.PreventDefault();
});
es.GetEventType("OnRender2D").AddHandler(function(e) {
  if (frame == 2) throw "render failed in frame " + frame;
});
es.GetEventType("OnRender2D").AddHandler(function(e) { print("render " + frame + "\n"); });
es.GetEventType("OnUnload").AddHandler(function(e) { print("unload after " + frame + " frames\n"); });
throw "the script's own error";
