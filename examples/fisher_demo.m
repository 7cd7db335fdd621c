% Fisher's linear discriminant as a ratio of quadratics, solved with Brelvane.
%
% Two classes of n-dimensional samples; the direction w that separates them
% best maximises the between-class over the within-class scatter,
%   w'*Sb*w / w'*Sw*w,
% so it minimises R(w) = (1/2 w'*(-Sb)*w) / (1/2 w'*Sw*w): P = -Sb, Q = Sw,
% c = d = 0, alpha = beta = 0. The smallest eigenvalue of eig(P, Q) is the
% lowest value R can reach.
n = 300;
samples = 3000;
rand('seed', 7); randn('seed', 7);
mixing = eye(n) + 0.3 * randn(n) / sqrt(n);
shift = randn(n, 1) / sqrt(n);
a = randn(samples, n) * mixing;
b = randn(samples, n) * mixing + repmat(shift', samples, 1);
ma = mean(a)'; mb = mean(b)';
Sw = (a - ma')' * (a - ma') + (b - mb')' * (b - mb');
Sw = (Sw + Sw') / 2;
Sb = (ma - mb) * (ma - mb)';
P = -Sb; Q = Sw; z = zeros(n, 1);
x0 = ones(n, 1);
iterations = 20000;

ratio = @(x) (x' * P * x) / (x' * Q * x);
tic;
x = Brelvane(x0, P, z, 0, Q, z, 0, n, iterations);
elapsed = toc;
lambda = min(eig(P, Q));

printf('Fisher discriminant, n = %d, %d samples per class, %d iterations\n', ...
       n, samples, iterations);
printf('  R(x0)              = % .12e\n', ratio(x0));
printf('  R(x)               = % .12e\n', ratio(x));
printf('  eigenvalue bound   = % .12e   (min eig(P, Q))\n', lambda);
printf('  relative gap       =  %.2e\n', abs(ratio(x) - lambda) / abs(lambda));
printf('  time in Brelvane   =  %.1f ms\n', 1000 * elapsed);
