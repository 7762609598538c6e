function println(s) { print(s + "\n") }
class Foo {
    constructor(a) { testy = ["stuff",1,2,3,a] }
    function PrintTesty() { foreach(i,val in testy) println("idx = "+i+" = "+val) }
    testy = null
}
Foo(10).PrintTesty()
FakeNamespace <- { Utils = {} }
class FakeNamespace.Utils.SuperClass {
    constructor() { println("FakeNamespace.Utils.SuperClass") }
    function DoSomething() { println("DoSomething()") }
}
local testy = FakeNamespace.Utils.SuperClass()
testy.DoSomething()
class Bar { testy = null }
Bar.stuff <- 10
Bar.testy <- "I'm a string"
local b = Bar()
println(b.stuff + " " + b.testy)
try { Bar.newprop <- 1 } catch(e) println(e)
try { Bar.stuff <- 11 } catch(e) println(e)
Bar.method <- function() { return "added method" }
println(b.method())
Bar.method <- function() { return "replaced method" }
println(b.method())
class S { constructor() {} name = "normal variable"; static classname = "The class name is foo" }
println(S.classname + " " + S().classname)
try { S().classname = "x" } catch(e) println(e)
class Arr { myarray = [1,2,3]; mytable = {} }
local a1 = Arr(), a2 = Arr()
a1.myarray.push(4)
println(a2.myarray.len() + " " + (a1.mytable == a2.mytable))
class Rect { constructor(w,h) { width = w; height = h } x = 0; y = 0; width = null; height = null }
local rc = Rect(100,100)
println(rc.width + "x" + rc.height)
try { Rect(1) } catch(e) println(e)
if (rc instanceof Rect) println("It's a rect") else println("It isn't a rect")
println(rc.getclass() == Rect)
println((1 instanceof Rect) + " " + ({} instanceof Rect))
try { rc.newmember <- 1 } catch(e) println(e)
try { delete rc.x; println("deleted") } catch(e) println("instance members cannot be removed")
class VA { constructor(...) { n = vargv.len() } n = 0 }
println(VA(1,2,3).n)
class Base1 { function DoSomething() { println("I'm the base") } }
class SuperFoo extends Base1 { function DoSomething() { base.DoSomething(); println("I'm doing something") } }
SuperFoo().DoSomething()
println(SuperFoo.getbase() == Base1)
println(Base1.getbase())
class BaseClass { constructor() { println("Base constructor") } }
class ChildClass extends BaseClass { constructor() { base.constructor(); println("Child constructor") } }
local tc = ChildClass()
println((tc instanceof ChildClass) + " " + (tc instanceof BaseClass))
class F2 { function DoSomething() { println("I'm the base") } function DoIt() { DoSomething() } }
class SF2 extends F2 { function DoSomething() { println("I'm the derived") } function DoIt() { base.DoIt() } }
SF2().DoIt()
// implicit base constructor when derived has none
class NoCtor extends BaseClass {}
NoCtor()
class Vector3 {
    constructor(...) { if(vargv.len() >= 3) { x = vargv[0]; y = vargv[1]; z = vargv[2] } }
    function _add(other) { return ::Vector3(x+other.x,y+other.y,z+other.z) }
    x = 0; y = 0; z = 0
}
local v2 = Vector3(1,2,3) + Vector3(11,12,13)
println(v2.x + ", " + v2.y + ", " + v2.z)
// attributes
class AttrFoo </ test = "I'm a class level attribute" /> {
    </ test = "freakin attribute" /> attr = 10
    </ test = "x", n = 2 /> static sattr = 1
    function meth() {}
}
println(AttrFoo.getattributes(null).test)
println(AttrFoo.getattributes("attr").test)
println(AttrFoo.getattributes("sattr").n)
println(AttrFoo.getattributes("meth"))
AttrFoo.setattributes("meth", {k = 5})
println(AttrFoo.getattributes("meth").k)
try { AttrFoo.getattributes("nope") } catch(e) println(e)
// _inherited / _newmember
class Watch {
  function _inherited(attr) { println("inherited by class, attr=" + (attr ? attr.tag : "null")); ::lastchild <- this }
}
class Kid extends Watch </ tag = "k" /> { v = 1 }
println(::lastchild == Kid)
class Kid2 extends Watch {}
class NMBase {
  function _newmember(idx, val, attr, isstatic) { println("newmember " + idx + " static=" + isstatic + " attr=" + (attr ? attr.a : "null")); ::rawset_target <- this }
}
class NMKid extends NMBase { x = 1; </ a = 7 /> static y = 2; function f() {} }
println(("x" in NMKid) + " " + ("f" in NMKid))
// instance copy of members, class modification
class Cnt { count = 0; function inc() { count++; return count } }
local c1 = Cnt(), c2 = Cnt()
c1.inc(); c1.inc()
println(c1.count + " " + c2.count + " " + Cnt.count)
// class rawin/rawget etc
println(Cnt.rawin("count") + " " + c1.rawin("count") + " " + Cnt.rawget("count"))
// instances: typeof, _typeof
class Ty { function _typeof() { return "mytype" } }
println(typeof Ty())
// weakref, getclass in instance
println(typeof c1.getclass())
// instance of deriving from an instantiated class
class Der extends Cnt { extra = 5 }
println(Der().inc() + " " + Der().extra)
// static in derived copy
class SBase { static counter = 3 }
class SDer extends SBase {}
println(SDer.counter)
// constructor return is ignored
class RetC { constructor() { return 5 } }
println(typeof RetC())
// calling method with explicit this
class Who { name = "who"; function get() { return name } }
println(Who.get.call({name = "table"}))
// member function from a table env
local inst = Who()
local fn = inst.get
try { fn() } catch(e) println(e)
println(inst.get())
// methods cannot be set on instances; inherited constructors; statics shared with derived classes
class Rect2 { constructor(w, h) { width = w; height = h } width = 0; height = 0; function area() { return width * height } }
local rc = Rect2(2, 3)
try { rc.area = function() { return 0 }; print("method set\n") } catch(e) print(e + "\n")
print(rc.area() + "\n")
class Sq2 extends Rect2 {}
local s = Sq2(4, 5)
print(s.area() + " " + (s instanceof Rect2) + "\n")
try { Sq2(1) } catch(e) print(e + "\n")
print(rc.rawin("area") + " " + rc.rawin("width") + " " + ("area" in rc) + "\n")
// base in a method added after declaration refers to the class's base
Sq2.describe <- function() { return "Sq over " + (base.area != null) }
print(s.describe() + "\n")
// static members are shared with derived classes and instances
class Counter { static count = [0]; function bump() { count[0]++; return count[0] } }
class SubCounter extends Counter {}
Counter().bump(); SubCounter().bump()
print(Counter.count[0] + "\n")
// class used before declaration complete: members referencing the class
class Self { function make() { return Self() } }
print(typeof Self().make() + "\n")
// a class is a value: stored, passed, compared
local classes = [Rect2, Sq2]
print((classes[1].getbase() == classes[0]) + " " + typeof classes[0] + "\n")
// _inherited runs for every level of derivation, with the new class as this
class Registry { static all = []; function _inherited(attr) { all.push(attr ? attr.name : "anon") } }
class First extends Registry </ name = "first" /> {}
class Second extends First </ name = "second" /> {}
class Third extends Second {}
foreach (n in Registry.all) print(n + " ")
print("\n")
// member attributes are copied into a derived class; class-level attributes are not
class AB </ level = "base" /> { </ doc = "member doc" /> m = 1 }
class AD extends AB {}
print(AD.getattributes("m").doc + " " + AD.getattributes(null) + "\n")
AD.setattributes("m", { doc = "derived doc" })
print(AB.getattributes("m").doc + " " + AD.getattributes("m").doc + "\n")
// static functions, factory methods, constructor and method chains through base
class Util { static prefix = ">"; function fmt(s) { return prefix + s } static function make() { return "static fn" } }
print(Util.fmt("x") + " " + Util.make() + " " + Util().fmt("y") + "\n")
class Fact { static function create(n) { local o = Fact(); o.n = n; return o } n = 0 }
print(Fact.create(4).n + "\n")
// methods see the class through the instance's getclass
class Named { function cls() { return getclass() == Named } }
print(Named().cls() + "\n")
// constructor chaining with arguments through base
class A1 { v = null; constructor(x) { v = "A1(" + x + ")" } }
class B1 extends A1 { constructor(x) { base.constructor(x * 2) ; v += "+B1" } }
class C1 extends B1 { constructor() { base.constructor(5); v += "+C1" } }
print(C1().v + "\n")
// base in a deeper method chain
class L1 { function who() { return "L1" } }
class L2 extends L1 { function who() { return "L2>" + base.who() } }
class L3 extends L2 { function who() { return "L3>" + base.who() } }
print(L3().who() + "\n")
// after instantiation statics and methods may still be added, fields may not
class Late { v = 1 }
local li = Late()
Late.newmember("addedstatic", 42, null, true)
print(Late.addedstatic + " " + li.addedstatic + "\n")
try { Late.newmember("addedfield", 1, null, false) } catch(e) print(e + "\n")
Late.lateMethod <- function() { return "late method sees v=" + v }
print(li.lateMethod() + "\n")
// _newmember is called for members declared in the class body, not for a later new slot
class NHooked { function _newmember(k, v, a, s) { print("hook " + k + "\n") } }
class NHK extends NHooked { declared = 1 }
NHK.viaNewslot <- 2
print(NHK.rawin("viaNewslot") + "\n")
