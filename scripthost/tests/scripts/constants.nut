// The environment's constants across the run of the file and the frames' handlers: declared, replaced with a
// table of the script's own and still there in every handler call. The runner also fails when the machine is
// left with the environment's constant table after the file has run.
const DECLARED = "declared";
enum Colour { Red = 1, Green = 2 }
print("file: " + DECLARED + " " + Colour.Green + "\n");
local own = clone getconsttable();
own.ADDED <- "added";
setconsttable(own);
print("replaced: " + ("ADDED" in getconsttable()) + " " + ("DECLARED" in getconsttable()) + "\n");
local frames = 0;
Engine.EventSystem.GetEventType("OnProcess").AddHandler(function(e) {
  frames++;
  local c = getconsttable();
  print("frame " + frames + ": " + (c == own) + " " + c.ADDED + " " + c.DECLARED + " " + c.Colour.Red + "\n");
  print("compiled in the frame: " + compilestring("return ADDED + \" \" + DECLARED;")() + "\n");
});
