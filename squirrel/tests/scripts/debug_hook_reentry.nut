// A hook is not called for the code it runs itself, whatever that code does to the hook; a hook that throws
// stays set, and one that removes itself or installs another takes effect once it returns.
local events = [];
function work(a) { return a + 1; }
local throwing = true;
function hook(type, src, line, name) {
  if (type != 'c') return;
  events.append(name);
  work(0);  // no event for this call
  if (name == "work" && throwing) { throwing = false; throw "from the hook"; }
}
setdebughook(hook);
try { work(1); } catch (e) events.append("caught " + e);
work(2);
local other = function(type, src, line, name) { if (type == 'c') events.append("other " + name); };
setdebughook(function(type, src, line, name) {
  if (type == 'c' && name == "work") { events.append("swap"); setdebughook(other); }
});
work(3);
work(4);
setdebughook(null);
work(5);
print(events.reduce(@(a, b) a + ", " + b) + "\n");
