// Engine.EventSystem, EventType and Event from a script: the game's types, adding and removing, handler calls,
// prevent-default and the errors of misuse.
local es = Engine.EventSystem;
function attempt(what, f) {
  try { f(); print(what + ": no error\n"); } catch (e) { print(what + ": " + e + "\n"); }
}

local game = ["OnLoadedScript", "OnDefineAllObjects", "OnSetUpItemLinkedLists", "OnLoadItems", "OnProcess",
              "OnRender2D", "OnFallDamage", "OnRollingBallDeath", "OnDivingRollLandDeath", "OnFlipeffect",
              "OnKeyDown", "OnKeyUp", "OnLoad", "OnUnload", "OnGetKeyStates", "OnGetJoypadStates"];
local found = 0;
foreach (name in game) {
  local t = es.GetEventType(name);
  if (t != null && typeof t == "EventType" && es.IsEventTypeAdded(t)) found++;
}
print("game types found: " + found + "\n");
print("onprocess (other case): " + es.GetEventType("onprocess") + "\n");
print("same object twice: " + (es.GetEventType("OnProcess") == es.GetEventType("OnProcess")) + "\n");

local x = Engine.EventType("X");
print("before add: " + es.GetEventType("X") + " " + es.IsEventTypeAdded(x) + "\n");
es.RemoveEventType(x);
print("remove of a type never added: " + es.IsEventTypeAdded(x) + "\n");
es.AddEventType(x);
print("after add: " + (es.GetEventType("X") == x) + " " + es.IsEventTypeAdded(x) + "\n");
es.AddEventType(x);
es.RemoveEventType(x);
print("added twice, removed once: " + (es.GetEventType("X") == x) + " " + es.IsEventTypeAdded(x) + "\n");
es.RemoveEventType(x);
print("removed twice: " + es.GetEventType("X") + " " + es.IsEventTypeAdded(x) + "\n");

local calls = [];
x.AddHandler(function(e, ...) {
  calls.push("first(" + typeof e + (vargv.len() ? ", " + vargv[0] + ", " + vargv[1] : "") + ")");
  x.AddHandler(function(e, ...) { calls.push("late"); });
});
local event = Engine.Event(x);
print("event type: " + (event.GetEventType() == x) + " prevented " + event.IsDefaultPrevented() + "\n");
event.Trigger(1, "a");
print("calls: " + calls.reduce(@(a, b) a + " " + b) + "\n");

local y = Engine.EventType("Y");
local order = [];
y.AddHandler(function(e) { order.push(1); });
y.AddHandler(function(e) { order.push(2); e.PreventDefault(); });
y.AddHandler(function(e) { order.push(3); });
local fired = Engine.Event(y);
fired.Trigger();
print("prevented after " + order.len() + " handlers: " + fired.IsDefaultPrevented() + "\n");
order.clear();
fired.Trigger();
print("second trigger of the same event calls " + order.len() + "\n");
order.clear();
Engine.Event(y).Trigger();
print("a fresh event calls " + order.len() + "\n");

attempt("clone of an EventType", @() clone x);
attempt("clone of an Event", @() clone fired);
attempt("derived class", @() compilestring("class D extends Engine.EventType {}")());
attempt("Event of a vector", @() Engine.Event(Engine.Vector2D(1, 2)));
class Fake { PreventDefault = Engine.Event.PreventDefault; Trigger = Engine.Event.Trigger; }
attempt("PreventDefault on another class", @() Fake().PreventDefault());
attempt("Trigger on another class", @() Fake().Trigger(1));
attempt("instance() without object", @() Engine.Event.instance().IsDefaultPrevented());
attempt("constructor again", @() fired.constructor(y));
attempt("AddHandler of a number", @() x.AddHandler(3));
attempt("GetEventType of a number", @() es.GetEventType(3));
attempt("AddEventType of a table", @() es.AddEventType({}));
print(typeof x + " " + typeof fired + "\n");
