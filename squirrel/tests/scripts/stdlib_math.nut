// Math library: single-precision results, integer abs with wrap-around, the random generator.
print(sqrt(2) + " " + pow(2, 24) + " " + pow(2, 0.5) + "\n");
print(floor(2.7) + " " + ceil(2.1) + " " + floor(-0.5) + " " + typeof floor(1) + "\n");
print(abs(-12) + " " + abs(-2147483647 - 1) + " " + fabs(-0.5) + "\n");
print(format("%.4f %.4f %.4f\n", sin(PI / 2), cos(PI), atan2(1, 0)));
print(exp(1) + " " + log(exp(2)) + " " + log10(0.001) + "\n");
print((16777216.0 + 1) + " " + (0.1 + 0.2) + "\n");
srand(42);
local seq = [rand(), rand(), rand()];
srand(42);
print((seq[0] == rand() && seq[1] == rand() && seq[2] == rand()) + " " + RAND_MAX + "\n");
local inRange = true;
for (local i = 0; i < 1000; ++i) { local r = rand(); inRange = inRange && r >= 0 && r <= RAND_MAX; }
print("in range " + inRange + "\n");
try { sqrt("9"); } catch (e) { print(e + "\n"); }
