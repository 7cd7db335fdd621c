% Brelvane called from Octave: the worked examples end to end, the conversions
% of n and iterations, shapes, longer arrays, and NaN/Inf passing through.
I = eye (2);  Z = zeros (2);

% x0 = [1;2], P = I, Q = 0: the first step zeroes x(2), the second x(1).
assert_same_doubles (Brelvane ([1;2], I, [0;0], 1, Z, [0;0], 1, 2, 1), [1; 1e-100], "example 1, 1 step");
assert_same_doubles (Brelvane ([1;2], I, [0;0], 1, Z, [0;0], 1, 2, 2), [1e-100; 1e-100], "example 1, 2 steps");

% x0 = [1;1], P = diag(2,4), c = [1;0], Q = I: a linear step to x(2) = 0, then
% -sqrt(3) along x(1), then zero steps.
P = diag ([2 4]);
assert_same_doubles (Brelvane ([1;1], P, [1;0], 1, I, [0;0], 1, 2, 1), [1; 1e-100], "example 2, 1 step");
for iterations = [2 3 25]
  x = Brelvane ([1;1], P, [1;0], 1, I, [0;0], 1, 2, iterations);
  assert (abs (x(1) - (1 - sqrt (3))) <= 2 * eps, "example 2: x(1) = %.17g", x(1));
  assert (x(2) == 1e-100);
  assert_same_doubles (x, ratio_descent_reference ([1;1], P, [1;0], 1, I, [0;0], 1, 2, iterations),
                       "example 2 against the reference");
end

% A problem on which the iteration count matters at every step, so truncation
% can be told from rounding: 10.9 must act as 10, not 11.
rand ("seed", 7);
n = 5;
A = round (4 * rand (n)) - 2;  P = A + A.' + 8 * eye (n);
B = round (4 * rand (n)) - 2;  Q = B + B.' + 10 * eye (n);
x0 = (1:n).' - 3;  c = [1; -2; 0; 3; 1];  d = [0; 1; -1; 2; 0];
solve = @(x0, n, iterations) Brelvane (x0, P, c, 2, Q, d, 30, n, iterations);
assert (! isequal (solve (x0, n, 10), solve (x0, n, 11)), "problem converged too soon to show truncation");
assert_same_doubles (solve (x0, n, 10.9), solve (x0, n, 10), "iterations = 10.9");
assert_same_doubles (solve (x0, 5.99, 10), solve (x0, 5, 10), "n = 5.99");
assert_same_doubles (solve (x0, n, -0.5), solve (x0, n, 0), "iterations = -0.5");
assert_same_doubles (solve (x0, n, int32 (10)), solve (x0, n, 10), "integer iterations");
assert_same_doubles (solve (x0, uint8 (5), single (10)), solve (x0, n, 10), "integer n, single iterations");

% n = 2.7 acts as n = 2: only x0(1:2) and P(1:4) (leading dimension 2) are read.
args = {[1;1;7], [2 0 9 0 4 9 9 9 9].', [1;0;5], 1, [1 0 9 0 1 9 9 9 9], [0;0;5], 1};
x = Brelvane (args{:}, 2.7, 5);
assert_same_doubles (x, Brelvane (args{:}, 2, 5), "n = 2.7");
% P(1:4) = [2 0 9 0] is the 2x2 matrix [2 9; 0 0], Q(1:4) likewise.
assert_same_doubles (x, ratio_descent_reference ([1;1], [2 9; 0 0], [1;0], 1, [1 9; 0 0], [0;0], 1, 2, 5),
                     "n = 2.7 reads x0(1:2) and P(1:4)");

% Rows act as columns, and arrays longer than needed are read in their first
% n (or n*n, column-major with leading dimension n) elements only.
column = solve (x0, n, 10);
assert_same_doubles (solve (x0.', n, 10), column, "x0 as a row");
assert_same_doubles (Brelvane ([x0; 99; -7], [P(:); 5], [c.', 8], 2, [Q(:).', 1, 2], [d; 1], 30, n, 10),
                     column, "longer arrays and rows");
Plong = [P, ones(n, 1); ones(1, n + 1)](:);  % of (n+1)x(n+1): its first n*n elements are not P
assert_same_doubles (Brelvane (x0, Plong, c, 2, Q, d, 30, n, 10),
                     ratio_descent_reference (x0, Plong, c, 2, Q, d, 30, n, 10), "P read with leading dimension n");
assert (! isequal (Brelvane (x0, Plong, c, 2, Q, d, 30, n, 10), column));

% iterations <= 0 returns x0 as a column, exact zeros (either sign) as 1e-100.
for iterations = [0, -3, -0.5]
  assert_same_doubles (Brelvane ([0, -0, 5, NaN], eye (4), zeros (4, 1), 1, eye (4), zeros (4, 1), 1, 4, iterations),
                       [1e-100; 1e-100; 5; NaN], sprintf ("iterations = %g", iterations));
end

% n = 0 (also -0.5 truncated) gives a 0x1 double without solving.
for n0 = [0, -0.5, 0.9]
  x = Brelvane ([], [], [], 1, [], [], 1, n0, 5);
  assert (isa (x, "double") && isequal (size (x), [0 1]), "n = %g: result is %dx%d", n0, rows (x), columns (x));
end

% NaN and Inf are not checked: they flow through like any other value.
x = Brelvane ([1;2], I, [0;0], NaN, Z, [0;0], 1, 2, 1);
assert (isnan (x(1)) && x(2) == 2, "alpha = NaN: chooses coordinate 1 and moves it to NaN");
args = {[Inf; 1; -2], [2 1 0; 1 3 1; 0 1 4], [1; 0; -1], 0, eye(3), [0; 1; 0], Inf, 3, 4};
assert_same_doubles (Brelvane (args{:}), ratio_descent_reference (args{:}), "Inf in x0 and beta");

% Without an output variable the result still arrives, as ans.
Brelvane ([1;2], I, [0;0], 1, Z, [0;0], 1, 2, 1);
assert_same_doubles (ans, [1; 1e-100], "ans");
disp ("gateway behaviour: all assertions passed");
